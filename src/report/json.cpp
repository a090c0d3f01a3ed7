#include "report/json.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "report/json_library.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace boxwalk {
namespace {

// Where RapidJSON's Writer puts what it writes: one growing block, which
// the Writer fills in place where it has reserved room (as it does in its
// own StringBuffer), and which is handed on whole.
class JsonBuffer {
public:
    using Ch = char;

    JsonBuffer() = default;
    ~JsonBuffer() { std::free(start_); }
    JsonBuffer(const JsonBuffer&) = delete;
    JsonBuffer& operator=(const JsonBuffer&) = delete;

    void Put(char c) {
        Reserve(1);
        *next_++ = c;
    }
    void PutUnsafe(char c) { *next_++ = c; }
    void Flush() {}
    // Room for `count` more bytes.
    void Reserve(std::size_t count) {
        if (count > static_cast<std::size_t>(end_ - next_)) {
            grow(count);
        }
    }
    char* Push(std::size_t count) {
        Reserve(count);
        char* const at = next_;
        next_ += count;
        return at;
    }
    void Pop(std::size_t count) { next_ -= count; }

    // Where the next byte goes, in room reserved before; the Writer's
    // string scan fills it and moves on with advance_to().
    char* cursor() { return next_; }
    void advance_to(char* next) { next_ = next; }

    void clear() { next_ = start_; }
    std::string_view text() const { return {start_, static_cast<std::size_t>(next_ - start_)}; }

private:
    // Out of line: the writes that reserve room stay small enough to be
    // made in place.
    [[gnu::noinline]] void grow(std::size_t count) {
        const auto used = static_cast<std::size_t>(next_ - start_);
        const auto size = static_cast<std::size_t>(end_ - start_);
        const std::size_t wanted = std::max(used + count, size + size / 2 + 4096);
        // realloc moves a large block by remapping its pages, not copying.
        auto* const grown = static_cast<char*>(std::realloc(start_, wanted));
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        start_ = grown;
        next_ = grown + used;
        end_ = grown + wanted;
    }

    char* start_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
};

// RapidJSON's reserve and unchecked put, found by argument-dependent lookup
// (its own do nothing and check, for streams it does not know).
inline void PutReserve(JsonBuffer& stream, std::size_t count) { stream.Reserve(count); }
inline void PutUnsafe(JsonBuffer& stream, char c) { stream.PutUnsafe(c); }

}  // namespace
}  // namespace boxwalk

// The Writer over that buffer, as RapidJSON specializes it over its own
// StringBuffer: numbers formatted in place, and the run of a string that
// needs no escaping found 16 bytes at a time, as RapidJSON's own SSE2 scan
// does, but with any load, not only an aligned one, and with no byte loop
// after it: the strings here are short (a line of the console or less), and
// most would end in that loop. Every byte that RapidJSON escapes, below
// 0x20, '"' and '\', ends the run, and RapidJSON's own loop escapes it.
namespace rapidjson {

template <>
inline bool Writer<boxwalk::JsonBuffer>::WriteUint(unsigned u) {
    char* const buffer = os_->Push(10);
    os_->Pop(static_cast<size_t>(10 - (internal::u32toa(u, buffer) - buffer)));
    return true;
}

template <>
inline bool Writer<boxwalk::JsonBuffer>::WriteUint64(uint64_t u) {
    char* const buffer = os_->Push(20);
    os_->Pop(static_cast<size_t>(20 - (internal::u64toa(u, buffer) - buffer)));
    return true;
}

#ifdef __SSE2__
namespace {

// One bit for each of the 16 bytes that must be escaped.
inline unsigned escapes(__m128i bytes) {
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
                     _mm_cmpeq_epi8(_mm_max_epu8(bytes, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F)));
    return static_cast<unsigned>(_mm_movemask_epi8(stops));
}

}  // namespace
#endif

// WriteString has reserved 6 bytes of room per byte of the string: the
// copies below may write past the run, into room that what follows writes
// over.
template <>
inline bool Writer<boxwalk::JsonBuffer>::ScanWriteUnescapedString(StringStream& is, size_t length) {
    const char* from = is.src_;
    const char* const end = is.head_ + length;
    char* to = os_->cursor();
    const auto stop_at = [&](const char* at, char* out) {
        os_->advance_to(out);
        is.src_ = at;
        return at != end;
    };
#ifdef __SSE2__
    if (end - from >= 16) {
        for (;;) {
            // The last block ends at the string's end, over bytes of this
            // run already copied and found plain.
            const char* const block = end - from >= 16 ? from : end - 16;
            char* const out = to - (from - block);
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
            if (const unsigned mask = escapes(bytes); mask != 0) {
                const auto skip = static_cast<std::ptrdiff_t>(__builtin_ctz(mask));
                return stop_at(block + skip, out + skip);
            }
            if (block + 16 == end) {
                return stop_at(end, out + 16);
            }
            from += 16;
            to += 16;
        }
    }
    if (end - from >= 8) {
        // Two blocks of 8 that overlap: the first 8 bytes and the last 8.
        const auto count = end - from;
        const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
        const __m128i last = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(end - 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), first);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + count - 8), last);
        const unsigned mask = escapes(_mm_unpacklo_epi64(first, last));
        if ((mask & 0xFF) != 0) {
            const auto skip = static_cast<std::ptrdiff_t>(__builtin_ctz(mask));
            return stop_at(from + skip, to + skip);
        }
        if (mask != 0) {
            const auto skip = count - 8 + static_cast<std::ptrdiff_t>(__builtin_ctz(mask >> 8));
            return stop_at(from + skip, to + skip);
        }
        return stop_at(end, to + count);
    }
#endif
    for (; from != end; ++from, ++to) {
        const auto byte = static_cast<unsigned char>(*from);
        if (byte < 0x20 || byte == '"' || byte == '\\') {
            break;
        }
        *to = *from;
    }
    return stop_at(from, to);
}

}  // namespace rapidjson

namespace boxwalk {
namespace {

// The room a name takes, quoted: every name of the contract's tables fits,
// and goes out as one block of this size (the bytes past its end are
// written over by what follows).
constexpr std::size_t kNameBlock = 16;

// Each name of a table as a JSON string, quotes included, made once: the
// names are plain ASCII, which needs no escaping, and a name goes out as it
// is.
struct QuotedName {
    std::array<char, kNameBlock> text{};
    std::size_t size = 0;
};

template <typename Kind, std::size_t N>
class QuotedNames {
public:
    explicit QuotedNames(const std::array<Named<Kind>, N>& table) {
        for (std::size_t i = 0; i < N; ++i) {
            const std::string_view name = table[i].name;
            QuotedName& quoted = quoted_[i];
            quoted.text[0] = '"';
            name.copy(quoted.text.data() + 1, name.size());
            quoted.text[name.size() + 1] = '"';
            quoted.size = name.size() + 2;
        }
    }
    const QuotedName& operator[](Kind kind) const {
        return quoted_[static_cast<std::size_t>(kind)];
    }

private:
    std::array<QuotedName, N> quoted_;
};

// True when every name of `table`, quoted, fits a block.
template <typename Kind, std::size_t N>
constexpr bool fits_blocks(const std::array<Named<Kind>, N>& table) {
    for (const Named<Kind>& row : table) {
        if (row.name.size() + 2 > kNameBlock) {
            return false;
        }
    }
    return true;
}
static_assert(fits_blocks(kFileFields) && fits_blocks(kTagFields) && fits_blocks(kValueFields) &&
              fits_blocks(kDamageFields) && fits_blocks(kXmpFields) && fits_blocks(kLineFields) &&
              fits_blocks(kOtherValueFields) && fits_blocks(kLineKinds) && fits_blocks(kStores) &&
              fits_blocks(kValueKinds) && fits_blocks(kFileKinds));

const QuotedNames kFileFieldNames(kFileFields);
const QuotedNames kTagFieldNames(kTagFields);
const QuotedNames kValueFieldNames(kValueFields);
const QuotedNames kDamageFieldNames(kDamageFields);
const QuotedNames kXmpFieldNames(kXmpFields);
const QuotedNames kLineFieldNames(kLineFields);
const QuotedNames kOtherValueFieldNames(kOtherValueFields);
const QuotedNames kLineKindNames(kLineKinds);
const QuotedNames kStoreNames(kStores);
const QuotedNames kValueKindNames(kValueKinds);
const QuotedNames kFileKindNames(kFileKinds);

const QuotedName& quoted(FileField field) { return kFileFieldNames[field]; }
const QuotedName& quoted(TagField field) { return kTagFieldNames[field]; }
const QuotedName& quoted(ValueField field) { return kValueFieldNames[field]; }
const QuotedName& quoted(DamageField field) { return kDamageFieldNames[field]; }
const QuotedName& quoted(XmpField field) { return kXmpFieldNames[field]; }
const QuotedName& quoted(LineField field) { return kLineFieldNames[field]; }
const QuotedName& quoted(OtherValueField field) { return kOtherValueFieldNames[field]; }
const QuotedName& quoted(LineKind kind) { return kLineKindNames[kind]; }
const QuotedName& quoted(Store store) { return kStoreNames[store]; }
const QuotedName& quoted(ValueKind kind) { return kValueKindNames[kind]; }
const QuotedName& quoted(FileKind kind) { return kFileKindNames[kind]; }

// RapidJSON's Writer with two more kinds of value that it places as it
// places its own (its Prefix writes the comma or colon before them), as
// its PrettyWriter extends it: a name from the tables above, and a range.
class Writer final : public rapidjson::Writer<JsonBuffer> {
public:
    explicit Writer(JsonBuffer& buffer) : rapidjson::Writer<JsonBuffer>(buffer) {}

    // A quoted name, as a field's name or as a string value.
    void Name(const QuotedName& name) {
        Prefix(rapidjson::kStringType);
        char* const at = os_->Push(kNameBlock);
        std::memcpy(at, name.text.data(), kNameBlock);
        os_->Pop(kNameBlock - name.size);
    }

    // A range as the array [pos, size], made in place from RapidJSON's own
    // digits: most of a line's record is ranges.
    void Range(std::uint64_t pos, std::uint64_t size) {
        Prefix(rapidjson::kArrayType);
        constexpr std::size_t kLongest = 2 * 20 + 3;
        char* const array = os_->Push(kLongest);
        array[0] = '[';
        char* const comma = rapidjson::internal::u64toa(pos, array + 1);
        *comma = ',';
        char* const close = rapidjson::internal::u64toa(size, comma + 1);
        *close = ']';
        os_->Pop(kLongest - static_cast<std::size_t>(close + 1 - array));
    }
};

// RapidJSON counts a string's bytes in 32 bits; no text here comes near
// that (values and packets are cut long before), and a longer one would
// be cut rather than wrapped.
rapidjson::SizeType length_of(std::string_view text) {
    return static_cast<rapidjson::SizeType>(
        std::min<std::size_t>(text.size(), std::numeric_limits<rapidjson::SizeType>::max()));
}

void text(Writer& writer, std::string_view value) { writer.String(value.data(), length_of(value)); }

// A field's name, or a kind's as a value.
template <typename Field>
void key(Writer& writer, Field field) {
    writer.Name(quoted(field));
}
template <typename Kind>
void name(Writer& writer, Kind kind) {
    writer.Name(quoted(kind));
}

void range(Writer& writer, std::uint64_t pos, std::uint64_t size) { writer.Range(pos, size); }
void range(Writer& writer, const FileRange& bytes) { writer.Range(bytes.pos, bytes.size); }

template <typename Field>
void track(Writer& writer, Field field, unsigned number) {
    if (number != 0) {
        key(writer, field);
        writer.Uint(number);
    }
}

template <typename Field>
void cut(Writer& writer, Field field, bool is_cut) {
    if (is_cut) {
        key(writer, field);
        writer.Bool(true);
    }
}

// `value` under `field`, unless it is empty.
template <typename Field>
void some_text(Writer& writer, Field field, std::string_view value) {
    if (!value.empty()) {
        key(writer, field);
        text(writer, value);
    }
}

void tag_value(Writer& writer, const TagValue& value) {
    writer.StartObject();
    key(writer, ValueField::kind);
    name(writer, value.kind);
    if (value.stored_type) {
        key(writer, ValueField::type);
        writer.Uint(*value.stored_type);
    }
    key(writer, ValueField::text);
    text(writer, value.text);
    cut(writer, ValueField::cut, value.cut);
    some_text(writer, ValueField::language, value.language);
    some_text(writer, ValueField::part, value.part);
    key(writer, ValueField::bytes);
    range(writer, value.bytes);
    writer.EndObject();
}

// Hands on what is written when it is long enough (see spill_at).
using Spill = std::function<void()>;

void tag(Writer& writer, const Tag& tag) {
    writer.StartObject();
    key(writer, TagField::store);
    name(writer, tag.store);
    track(writer, TagField::track, tag.track);
    key(writer, TagField::key);
    text(writer, tag.key);
    some_text(writer, TagField::mean, tag.mean);
    some_text(writer, TagField::name, tag.name);
    some_text(writer, TagField::label, tag.label);
    key(writer, TagField::bytes);
    range(writer, tag.bytes);
    key(writer, TagField::values);
    writer.StartArray();
    for (const TagValue& value : tag.values) {
        tag_value(writer, value);
    }
    writer.EndArray();
    writer.EndObject();
}

// The fields of a file's object from `kind` up to the array of tags,
// opened.
void start_report(Writer& writer, const TagReport& report) {
    key(writer, FileField::kind);
    name(writer, report.kind);
    key(writer, FileField::description);
    text(writer, kFileKinds[static_cast<std::size_t>(report.kind)].about);
    some_text(writer, FileField::brand, report.brand);
    if (report.moov) {
        key(writer, FileField::moov);
        range(writer, *report.moov);
    }
    key(writer, FileField::tags);
    writer.StartArray();
}

// The end of the array of tags, and the fields after it up to `xmp`.
void end_report(Writer& writer, const TagReport& report, const Spill& spill) {
    writer.EndArray();
    key(writer, FileField::damage);
    writer.StartArray();
    for (const Damage& damage : report.damage) {
        writer.StartObject();
        key(writer, DamageField::store);
        name(writer, damage.store);
        track(writer, DamageField::track, damage.track);
        key(writer, DamageField::bytes);
        range(writer, damage.bytes);
        key(writer, DamageField::what);
        text(writer, damage.what);
        writer.EndObject();
    }
    writer.EndArray();
    key(writer, FileField::xmp);
    writer.StartArray();
    for (const XmpPacket& packet : report.xmp) {
        writer.StartObject();
        track(writer, XmpField::track, packet.track);
        key(writer, XmpField::bytes);
        range(writer, packet.bytes);
        key(writer, XmpField::text);
        text(writer, packet.text);
        cut(writer, XmpField::cut, packet.cut);
        writer.EndObject();
        spill();
    }
    writer.EndArray();
}

// The fields of a file's object from `kind` to `xmp`.
void report_fields(Writer& writer, const TagReport& report, const Spill& spill) {
    start_report(writer, report);
    for (const Tag& each : report.tags) {
        tag(writer, each);
        spill();
    }
    end_report(writer, report, spill);
}

// A range of the detail columns, unless the line has no such part.
void detail_range(Writer& writer, LineField field, std::uint64_t pos, std::uint64_t size) {
    if (pos != kNoPosition) {
        key(writer, field);
        range(writer, pos, size);
    }
}

// Every line the recorder holds, with what it shows, inside the array of
// lines.
void lines(Writer& writer, const LineRecorder& recorder, const Spill& spill) {
    const LineColumns& lines = recorder.lines();
    const DetailColumns& details = recorder.details();
    const ValueColumns& values = recorder.values();
    std::size_t next_value = 0;
    for (std::size_t i = 0; i < recorder.line_count(); ++i) {
        writer.StartObject();
        key(writer, LineField::text);
        text(writer, recorder.line_text(i));
        key(writer, LineField::kind);
        name(writer, static_cast<LineKind>(lines.kind[i]));
        if (const std::uint32_t type = lines.type[i]; type != 0) {
            // The four bytes stand after four others: the compiler cannot
            // tell that the string scan's loads of 8 bytes, which would end
            // at the string's end, are never made for 4.
            const char code[8] = {0,
                                  0,
                                  0,
                                  0,
                                  static_cast<char>(type >> 24),
                                  static_cast<char>(type >> 16),
                                  static_cast<char>(type >> 8),
                                  static_cast<char>(type)};
            key(writer, LineField::type);
            writer.String(code + 4, 4);
        }
        if (lines.pos[i] != kNoPosition) {
            key(writer, LineField::bytes);
            range(writer, lines.pos[i], lines.size[i]);
        }
        if (const std::uint32_t row = lines.detail[i]; row != kNoDetail) {
            detail_range(writer, LineField::key, details.key_pos[row], details.key_size[row]);
            detail_range(writer, LineField::name, details.name_pos[row], details.name_size[row]);
            detail_range(writer, LineField::value, details.value_pos[row], details.value_size[row]);
            if (details.value_pos[row] != kNoPosition) {
                key(writer, LineField::value_type);
                writer.Uint(details.value_type[row]);
            }
        }
        // The values after the first, recorded before their line's text.
        while (next_value < values.line.size() && values.line[next_value] < i) {
            ++next_value;
        }
        bool more = false;
        if (next_value < values.line.size() && values.line[next_value] == i) {
            key(writer, LineField::values);
            writer.StartArray();
            for (; next_value < values.line.size() && values.line[next_value] == i; ++next_value) {
                if (values.pos[next_value] == kNoPosition) {
                    more = true;
                    continue;
                }
                writer.StartObject();
                key(writer, OtherValueField::bytes);
                range(writer, values.pos[next_value], values.size[next_value]);
                key(writer, OtherValueField::type);
                writer.Uint(values.type[next_value]);
                writer.EndObject();
            }
            writer.EndArray();
        }
        if (more) {
            key(writer, LineField::more_values);
            writer.Bool(true);
        }
        writer.EndObject();
        spill();
    }
}

}  // namespace

namespace {

// Where the object at hand stands: its array of lines open, its array of
// tags open, past them, or an object that says only why its file was not
// read.
enum class Part : std::uint8_t { lines, tags_open, tags, closed };

}  // namespace

struct JsonWriter::State {
    JsonBuffer buffer;
    Writer writer{buffer};
    Part part = Part::closed;
    std::size_t spill_size = 0;
    std::function<void(std::string_view)> spill_to;
    Spill spill = [this] {
        if (spill_to && buffer.text().size() >= spill_size) {
            spill_to(buffer.text());
            buffer.clear();
        }
    };
    Spill no_spill = [] {};

    Writer& start() {
        buffer.clear();
        writer.Reset(buffer);
        part = Part::closed;
        return writer;
    }
    // Ends the array of lines if it is open; whether the tag fields may
    // follow.
    bool close_lines() {
        if (part == Part::lines) {
            writer.EndArray();
            part = Part::tags;
            return true;
        }
        return false;
    }
};

JsonWriter::JsonWriter() : state_(std::make_unique<State>()) {}
JsonWriter::~JsonWriter() = default;

void JsonWriter::spill_at(std::size_t size, std::function<void(std::string_view)> spill) {
    state_->spill_size = size;
    state_->spill_to = std::move(spill);
}

std::string_view JsonWriter::file_object(const FileFacts& file) {
    static const TagReport kNone;
    start_file(file);
    if (file.lines != nullptr) {
        add_lines(*file.lines);
    }
    add_tags(file.tags != nullptr ? *file.tags : kNone);
    return finish_file();
}

void JsonWriter::start_file(const FileFacts& file) {
    Writer& writer = state_->start();
    writer.StartObject();
    key(writer, FileField::schema);
    writer.Uint(kSchemaVersion);
    key(writer, FileField::path);
    text(writer, file.path);
    if (file.size) {
        key(writer, FileField::size);
        writer.Uint64(*file.size);
    }
    if (file.error) {
        key(writer, FileField::error);
        text(writer, *file.error);
        state_->part = Part::closed;
        return;
    }
    key(writer, FileField::lines);
    writer.StartArray();
    state_->part = Part::lines;
}

void JsonWriter::add_lines(const LineRecorder& recorder) {
    if (state_->part == Part::lines) {
        lines(state_->writer, recorder, state_->spill);
    }
}

void JsonWriter::add_tags(const TagReport& report) {
    if (state_->close_lines()) {
        report_fields(state_->writer, report, state_->spill);
    }
}

void JsonWriter::start_tags(const TagReport& report) {
    if (state_->close_lines()) {
        start_report(state_->writer, report);
        state_->part = Part::tags_open;
    }
}

void JsonWriter::add_tag(const Tag& one) {
    if (state_->part == Part::tags_open) {
        tag(state_->writer, one);
        state_->spill();
    }
}

void JsonWriter::end_tags(const TagReport& report) {
    if (state_->part == Part::tags_open) {
        end_report(state_->writer, report, state_->spill);
        state_->part = Part::tags;
    }
}

std::string_view JsonWriter::finish_file(std::optional<std::string_view> error) {
    Writer& writer = state_->writer;
    if (state_->part != Part::closed) {
        state_->close_lines();
        if (error) {
            key(writer, FileField::error);
            text(writer, *error);
        }
    }
    writer.EndObject();
    state_->buffer.Put('\n');
    return state_->buffer.text();
}

std::string_view JsonWriter::tag_records(const TagReport& report) {
    Writer& writer = state_->start();
    writer.StartObject();
    report_fields(writer, report, state_->no_spill);
    writer.EndObject();
    return state_->buffer.text();
}

}  // namespace boxwalk
