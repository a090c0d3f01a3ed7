// Writes contract.js, the page's side of contract.hpp: the same tables as
// JavaScript, so that the page knows the program's kinds by the program's
// own names. Run at build time; the file it writes is not kept in the tree.
//   contract_js OUTPUT
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "contract/contract.hpp"
#include "contract/xmp_labels.hpp"

namespace {

// `text` as a JavaScript string literal. The tables hold plain ASCII; a
// quote or a backslash is escaped all the same.
std::string quoted(std::string_view text) {
    std::string literal = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') {
            literal += '\\';
        }
        literal += c;
    }
    return literal + "'";
}

// One table as `key: { names: [...], about: [...] }`, row i at index i.
template <typename Table>
std::string table(std::string_view key, const Table& rows) {
    std::string names;
    std::string about;
    for (const auto& row : rows) {
        names += (names.empty() ? "" : ", ") + quoted(row.name);
        about += (about.empty() ? "" : ",\n      ") + quoted(row.about);
    }
    return "  " + std::string(key) + ": {\n    names: [" + names + "],\n    about: [\n      " +
           about + "],\n  },\n";
}

// The typed array that holds a column of `Element`s.
template <typename Element>
constexpr std::string_view typed_array() {
    if constexpr (std::is_same_v<Element, std::uint64_t>) {
        return "BigUint64Array";
    } else if constexpr (std::is_same_v<Element, std::uint32_t>) {
        return "Uint32Array";
    } else {
        static_assert(std::is_same_v<Element, std::uint8_t>);
        return "Uint8Array";
    }
}

// The columns of `Columns` as `key: [{ name, array }, ...]`, in the order
// the page receives them.
template <typename Columns>
std::string columns(std::string_view key) {
    Columns empty;
    std::string list;
    boxwalk::visit_columns(empty, [&list](std::string_view name, const auto& column) {
        using Element = typename std::remove_cvref_t<decltype(column)>::value_type;
        list += (list.empty() ? "" : ",\n    ") + std::string("{ name: ") + quoted(name) +
                ", array: " + quoted(typed_array<Element>()) + " }";
    });
    return "  " + std::string(key) + ": [\n    " + list + "],\n";
}

// The labels of XMP's well-known properties as `xmpLabels: [{ space, local,
// label }, ...]`, with the namespaces the readers resolve.
std::string xmp_labels() {
    std::string list;
    for (const boxwalk::XmpLabel& row : boxwalk::kXmpLabels) {
        list += (list.empty() ? "" : ",\n    ") + std::string("{ space: ") + quoted(row.space) +
                ", local: " + quoted(row.local) + ", label: " + quoted(row.label) + " }";
    }
    return "  rdfNamespace: " + quoted(boxwalk::kRdfNamespace) +
           ",\n  xmlNamespace: " + quoted(boxwalk::kXmlNamespace) + ",\n  xmpLabels: [\n    " +
           list + "],\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: contract_js OUTPUT\n", stderr);
        return 1;
    }
    using namespace boxwalk;
    std::string js =
        "// Written at build time from src/contract/contract.hpp by contract_js: the\n"
        "// program's kinds by the names it gives them. Not to be edited.\n"
        "'use strict';\n\n"
        "const Contract = (() => {\n"
        "  const freeze = (value) => {\n"
        "    if (value && typeof value === 'object') Object.values(value).forEach(freeze);\n"
        "    return Object.freeze(value);\n"
        "  };\n"
        "  return freeze({\n"
        "  schema: " +
        std::to_string(kSchemaVersion) + ",\n";
    js += table("lineKinds", kLineKinds);
    js += table("stores", kStores);
    js += table("valueKinds", kValueKinds);
    js += table("fileKinds", kFileKinds);
    js += table("fileFields", kFileFields);
    js += table("tagFields", kTagFields);
    js += table("valueFields", kValueFields);
    js += table("damageFields", kDamageFields);
    js += table("xmpFields", kXmpFields);
    js += table("lineFields", kLineFields);
    js += table("otherValueFields", kOtherValueFields);
    js += "  noPosition: " + std::to_string(kNoPosition) + "n,\n";
    js += "  noDetail: " + std::to_string(kNoDetail) + ",\n";
    js += columns<LineColumns>("lineColumns");
    js += columns<DetailColumns>("detailColumns");
    js += columns<ValueColumns>("valueColumns");
    js += xmp_labels();
    js +=
        "  });\n})();\n\n"
        "if (typeof module !== 'undefined') module.exports = Contract;\n";
    std::FILE* const file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(js.data(), 1, js.size(), file) == js.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
