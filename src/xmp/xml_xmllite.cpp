// The XML parser on Windows, which has no expat: the system's XmlLite
// (xmllite.dll, found in the system folder only; Wine carries it too), with
// DTDs prohibited and no resolver, so that no entity is resolved and
// nothing is fetched. XmlLite tells a node's line and column, which Wine's
// and Windows' own do not count alike, and never where a node ends: no
// span is given.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// After windows.h, whose types they use.
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "primitives/render.hpp"
#include "xmp/xml.hpp"

namespace boxwalk::xml {
namespace {

using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
using CreateInput = HRESULT(WINAPI*)(IUnknown*, IMalloc*, LPCWSTR, BOOL, LPCWSTR, IUnknown**);

struct Library {
    CreateReader create_reader = nullptr;
    CreateInput create_input = nullptr;
};

// xmllite.dll's two entry points, loaded once; the import library is not
// in every MinGW.
const Library& library() {
    static const Library loaded = [] {
        Library library;
        const HMODULE module =
            ::LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr) {
            library.create_reader = reinterpret_cast<CreateReader>(
                reinterpret_cast<void*>(::GetProcAddress(module, "CreateXmlReader")));
            library.create_input = reinterpret_cast<CreateInput>(reinterpret_cast<void*>(
                ::GetProcAddress(module, "CreateXmlReaderInputWithEncodingName")));
        }
        return library;
    }();
    return loaded;
}

// Releases a COM object when it goes.
template <typename Interface>
struct Owned {
    Interface* object = nullptr;
    ~Owned() {
        if (object != nullptr) {
            object->Release();
        }
    }
};

std::string utf8(const WCHAR* text, UINT length) {
    if (length == 0) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                          nullptr);
    return result;
}

}  // namespace

std::optional<std::string> parse(std::string_view document, Events& events) {
    const Library& xmllite = library();
    if (xmllite.create_reader == nullptr || xmllite.create_input == nullptr) {
        return "XmlLite is not available";
    }
    if (document.size() > std::numeric_limits<UINT>::max()) {
        return "too long to parse";
    }
    Owned<IStream> stream{::SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()),
                                              static_cast<UINT>(document.size()))};
    Owned<IXmlReader> reader;
    Owned<IUnknown> input;
    if (stream.object == nullptr ||
        FAILED(xmllite.create_reader(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader.object),
                                     nullptr)) ||
        FAILED(
            reader.object->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
        FAILED(reader.object->SetProperty(XmlReaderProperty_XmlResolver, 0)) ||
        FAILED(xmllite.create_input(stream.object, nullptr, L"utf-8", FALSE, nullptr,
                                    &input.object)) ||
        FAILED(reader.object->SetInput(input.object))) {
        return "out of memory";
    }
    IXmlReader& xml = *reader.object;
    std::vector<std::string> owned;
    std::vector<Attribute> attributes;
    bool root = false;
    // Every node takes a byte of the document at least; Wine's XmlLite
    // hands out empty text without end when the document stops short.
    for (std::size_t nodes = 0;; ++nodes) {
        if (nodes > document.size()) {
            return "not well-formed (no end found)";
        }
        XmlNodeType type = XmlNodeType_None;
        const HRESULT result = xml.Read(&type);
        if (result == S_FALSE) {
            // Wine's XmlLite takes text alone for a document.
            return root ? std::nullopt : std::optional<std::string>("no element found");
        }
        if (FAILED(result)) {
            if (static_cast<std::uint32_t>(result) == WC_E_DTDPROHIBITED) {
                return "declares a DOCTYPE, which is refused";
            }
            UINT line = 0;
            UINT column = 0;
            xml.GetLineNumber(&line);
            xml.GetLinePosition(&column);
            char code[16];
            const auto value = static_cast<std::uint32_t>(result);
            for (int i = 0; i < 8; ++i) {
                code[i] = "0123456789abcdef"[(value >> (28 - 4 * i)) & 15];
            }
            return "not well-formed (XmlLite error 0x" + std::string(code, 8) + ") at line " +
                   decimal(line) + ", column " + decimal(column);
        }
        const WCHAR* chars = nullptr;
        UINT length = 0;
        switch (type) {
            case XmlNodeType_Element: {
                root = true;
                // Asked before the reader moves to the attributes.
                const bool empty = xml.IsEmptyElement() != FALSE;
                if (FAILED(xml.GetQualifiedName(&chars, &length))) {
                    return "out of memory";
                }
                const std::string name = utf8(chars, length);
                owned.clear();
                for (HRESULT at = xml.MoveToFirstAttribute(); at == S_OK;
                     at = xml.MoveToNextAttribute()) {
                    if (FAILED(xml.GetQualifiedName(&chars, &length))) {
                        return "out of memory";
                    }
                    owned.push_back(utf8(chars, length));
                    if (FAILED(xml.GetValue(&chars, &length))) {
                        return "out of memory";
                    }
                    owned.push_back(utf8(chars, length));
                }
                attributes.clear();
                for (std::size_t i = 0; i + 1 < owned.size(); i += 2) {
                    attributes.push_back({owned[i], owned[i + 1]});
                }
                events.start(name, attributes, Span{});
                if (empty) {
                    events.end(Span{});
                }
                break;
            }
            case XmlNodeType_EndElement:
                events.end(Span{});
                break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA:
            case XmlNodeType_Whitespace: {
                if (FAILED(xml.GetValue(&chars, &length))) {
                    return "out of memory";
                }
                events.text(utf8(chars, length), Span{});
                break;
            }
            default:
                break;
        }
    }
}

}  // namespace boxwalk::xml
