#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "contract/contract.hpp"

// The keys whose meaning is known: an English label for each, and how its
// value reads beyond what its stored type says. One plain table: a key is
// added by one row.
namespace boxwalk {

// How a well-known key's value reads.
enum class Reads : std::uint8_t {
    by_type,     // as its stored type says
    text,        // text; an item of type 0 holds UTF-8
    date,        // a date or a year, as text
    location,    // a place as ISO 6709 text: "+48.8577+002.2945/"
    number,      // an integer
    pair,        // a number of a total: "3 of 12"
    genre,       // an ID3v1 genre's number plus one
    flag,        // 0 or 1: "no" or "yes"
    media_kind,  // one of the media kinds: "Music", "TV show"
    rating,      // one of the advisory ratings: "Explicit"
    picture,     // a picture's bytes
};

struct KnownKey {
    Store store;
    // The key as the records hold it: four type bytes as text (0xA9 as ©),
    // a keys entry's name, an Xtra entry's name.
    std::string_view key;
    std::string_view label;
    Reads reads;
};

// clang-format off
inline constexpr std::array kKnownKeys = {
    // The item list.
    KnownKey{Store::item_list, "©nam", "Title", Reads::text},
    KnownKey{Store::item_list, "©ART", "Artist", Reads::text},
    KnownKey{Store::item_list, "©alb", "Album", Reads::text},
    KnownKey{Store::item_list, "aART", "Album artist", Reads::text},
    KnownKey{Store::item_list, "©wrt", "Composer", Reads::text},
    KnownKey{Store::item_list, "©gen", "Genre", Reads::text},
    KnownKey{Store::item_list, "gnre", "Genre", Reads::genre},
    KnownKey{Store::item_list, "©day", "Year", Reads::date},
    KnownKey{Store::item_list, "trkn", "Track", Reads::pair},
    KnownKey{Store::item_list, "disk", "Disc", Reads::pair},
    KnownKey{Store::item_list, "tmpo", "Tempo", Reads::number},
    KnownKey{Store::item_list, "cpil", "Compilation", Reads::flag},
    KnownKey{Store::item_list, "pgap", "Gapless", Reads::flag},
    KnownKey{Store::item_list, "©cmt", "Comment", Reads::text},
    KnownKey{Store::item_list, "©lyr", "Lyrics", Reads::text},
    KnownKey{Store::item_list, "desc", "Description", Reads::text},
    KnownKey{Store::item_list, "ldes", "Long description", Reads::text},
    KnownKey{Store::item_list, "©too", "Encoder", Reads::text},
    KnownKey{Store::item_list, "©enc", "Encoded by", Reads::text},
    KnownKey{Store::item_list, "cprt", "Copyright", Reads::text},
    KnownKey{Store::item_list, "©grp", "Grouping", Reads::text},
    KnownKey{Store::item_list, "©dir", "Director", Reads::text},
    KnownKey{Store::item_list, "©wrk", "Work", Reads::text},
    KnownKey{Store::item_list, "©mvn", "Movement", Reads::text},
    KnownKey{Store::item_list, "©mvi", "Movement number", Reads::number},
    KnownKey{Store::item_list, "©mvc", "Movement count", Reads::number},
    KnownKey{Store::item_list, "shwm", "Show movement", Reads::flag},
    KnownKey{Store::item_list, "sonm", "Sort title", Reads::text},
    KnownKey{Store::item_list, "soar", "Sort artist", Reads::text},
    KnownKey{Store::item_list, "soal", "Sort album", Reads::text},
    KnownKey{Store::item_list, "soaa", "Sort album artist", Reads::text},
    KnownKey{Store::item_list, "soco", "Sort composer", Reads::text},
    KnownKey{Store::item_list, "sosn", "Sort show", Reads::text},
    KnownKey{Store::item_list, "tvsh", "TV show", Reads::text},
    KnownKey{Store::item_list, "tven", "TV episode ID", Reads::text},
    KnownKey{Store::item_list, "tvnn", "TV network", Reads::text},
    KnownKey{Store::item_list, "tvsn", "TV season", Reads::number},
    KnownKey{Store::item_list, "tves", "TV episode", Reads::number},
    KnownKey{Store::item_list, "pcst", "Podcast", Reads::flag},
    KnownKey{Store::item_list, "purl", "Podcast URL", Reads::text},
    KnownKey{Store::item_list, "egid", "Podcast episode ID", Reads::text},
    KnownKey{Store::item_list, "catg", "Category", Reads::text},
    KnownKey{Store::item_list, "keyw", "Keywords", Reads::text},
    KnownKey{Store::item_list, "stik", "Media kind", Reads::media_kind},
    KnownKey{Store::item_list, "rtng", "Rating", Reads::rating},
    KnownKey{Store::item_list, "covr", "Cover", Reads::picture},

    // The Xtra store, as Windows names its properties.
    KnownKey{Store::xtra, "WM/AlbumArtist", "Album artist", Reads::by_type},
    KnownKey{Store::xtra, "WM/AlbumTitle", "Album", Reads::by_type},
    KnownKey{Store::xtra, "WM/Category", "Category", Reads::by_type},
    KnownKey{Store::xtra, "WM/Composer", "Composer", Reads::by_type},
    KnownKey{Store::xtra, "WM/Conductor", "Conductor", Reads::by_type},
    KnownKey{Store::xtra, "WM/Director", "Director", Reads::by_type},
    KnownKey{Store::xtra, "WM/EncodingTime", "Encoding time", Reads::by_type},
    KnownKey{Store::xtra, "WM/Genre", "Genre", Reads::by_type},
    KnownKey{Store::xtra, "WM/Lyrics", "Lyrics", Reads::by_type},
    KnownKey{Store::xtra, "WM/Mood", "Mood", Reads::by_type},
    KnownKey{Store::xtra, "WM/ParentalRating", "Parental rating", Reads::by_type},
    KnownKey{Store::xtra, "WM/Producer", "Producer", Reads::by_type},
    KnownKey{Store::xtra, "WM/Publisher", "Publisher", Reads::by_type},
    KnownKey{Store::xtra, "WM/SharedUserRating", "Rating", Reads::by_type},
    KnownKey{Store::xtra, "WM/SubTitle", "Subtitle", Reads::by_type},

    // A phone's keys.
    KnownKey{Store::keys, "com.apple.quicktime.make", "Make", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.model", "Model", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.software", "Software", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.creationdate", "Creation date", Reads::date},
    KnownKey{Store::keys, "com.apple.quicktime.location.ISO6709", "Location", Reads::location},
    KnownKey{Store::keys, "com.apple.quicktime.location.name", "Location name", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.location.body", "Location body", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.location.note", "Location note", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.location.date", "Location date", Reads::date},
    KnownKey{Store::keys, "com.apple.quicktime.location.accuracy.horizontal",
             "Location accuracy", Reads::by_type},
    KnownKey{Store::keys, "com.apple.quicktime.title", "Title", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.displayname", "Display name", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.author", "Author", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.artist", "Artist", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.album", "Album", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.comment", "Comment", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.description", "Description", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.copyright", "Copyright", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.genre", "Genre", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.keywords", "Keywords", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.information", "Information", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.director", "Director", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.producer", "Producer", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.publisher", "Publisher", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.year", "Year", Reads::date},
    KnownKey{Store::keys, "com.apple.quicktime.artwork", "Artwork", Reads::picture},
    KnownKey{Store::keys, "com.apple.quicktime.collection.user", "Collection", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.rating.user", "User rating", Reads::by_type},
    KnownKey{Store::keys, "com.apple.quicktime.content.identifier", "Content identifier",
             Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.camera.lens_model", "Lens model", Reads::text},
    KnownKey{Store::keys, "com.apple.quicktime.camera.focal_length.35mm_equivalent",
             "Focal length (35 mm)", Reads::by_type},

    // QuickTime text atoms in udta.
    KnownKey{Store::quicktime, "©nam", "Title", Reads::text},
    KnownKey{Store::quicktime, "©ART", "Artist", Reads::text},
    KnownKey{Store::quicktime, "©alb", "Album", Reads::text},
    KnownKey{Store::quicktime, "©aut", "Author", Reads::text},
    KnownKey{Store::quicktime, "©cmt", "Comment", Reads::text},
    KnownKey{Store::quicktime, "©com", "Composer", Reads::text},
    KnownKey{Store::quicktime, "©cpy", "Copyright", Reads::text},
    KnownKey{Store::quicktime, "©day", "Date", Reads::date},
    KnownKey{Store::quicktime, "©des", "Description", Reads::text},
    KnownKey{Store::quicktime, "©dir", "Director", Reads::text},
    KnownKey{Store::quicktime, "©dis", "Disclaimer", Reads::text},
    KnownKey{Store::quicktime, "©ed1", "Edit date", Reads::date},
    KnownKey{Store::quicktime, "©enc", "Encoded by", Reads::text},
    KnownKey{Store::quicktime, "©fmt", "Format", Reads::text},
    KnownKey{Store::quicktime, "©gen", "Genre", Reads::text},
    KnownKey{Store::quicktime, "©hst", "Host computer", Reads::text},
    KnownKey{Store::quicktime, "©inf", "Information", Reads::text},
    KnownKey{Store::quicktime, "©isr", "ISRC", Reads::text},
    KnownKey{Store::quicktime, "©key", "Keywords", Reads::text},
    KnownKey{Store::quicktime, "©lab", "Record label", Reads::text},
    KnownKey{Store::quicktime, "©mak", "Make", Reads::text},
    KnownKey{Store::quicktime, "©mod", "Model", Reads::text},
    KnownKey{Store::quicktime, "©ope", "Original artist", Reads::text},
    KnownKey{Store::quicktime, "©prd", "Producer", Reads::text},
    KnownKey{Store::quicktime, "©PRD", "Product", Reads::text},
    KnownKey{Store::quicktime, "©prf", "Performers", Reads::text},
    KnownKey{Store::quicktime, "©req", "Playback requirements", Reads::text},
    KnownKey{Store::quicktime, "©src", "Original source", Reads::text},
    KnownKey{Store::quicktime, "©swr", "Software", Reads::text},
    KnownKey{Store::quicktime, "©too", "Encoder", Reads::text},
    KnownKey{Store::quicktime, "©url", "URL", Reads::text},
    KnownKey{Store::quicktime, "©wrn", "Warning", Reads::text},
    KnownKey{Store::quicktime, "©wrt", "Composer", Reads::text},
    KnownKey{Store::quicktime, "©xyz", "Location", Reads::location},
    KnownKey{Store::quicktime, "name", "Name", Reads::text},

    // 3GPP assets.
    KnownKey{Store::assets, "titl", "Title", Reads::text},
    KnownKey{Store::assets, "auth", "Author", Reads::text},
    KnownKey{Store::assets, "perf", "Performer", Reads::text},
    KnownKey{Store::assets, "gnre", "Genre", Reads::text},
    KnownKey{Store::assets, "dscp", "Description", Reads::text},
    KnownKey{Store::assets, "cprt", "Copyright", Reads::text},
    KnownKey{Store::assets, "albm", "Album", Reads::text},
    KnownKey{Store::assets, "yrrc", "Year", Reads::date},
    KnownKey{Store::assets, "kywd", "Keywords", Reads::text},
    KnownKey{Store::assets, "clsf", "Classification", Reads::text},
    KnownKey{Store::assets, "rtng", "Rating", Reads::text},
    KnownKey{Store::assets, "loci", "Location", Reads::location},
};
// clang-format on

// The row of `key` in `store`, or null when the key is not a well-known one.
const KnownKey* find_known_key(Store store, std::string_view key);

// The ID3v1 genres with Winamp's additions, by number: gnre holds the
// number plus one.
inline constexpr std::array<std::string_view, 192> kGenres = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "Alt. Rock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta Rap",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast-Fusion",
    "Bebop",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A Cappella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Afro-Punk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
    "Abstract",
    "Art Rock",
    "Baroque",
    "Bhangra",
    "Big Beat",
    "Breakbeat",
    "Chillout",
    "Downtempo",
    "Dub",
    "EBM",
    "Eclectic",
    "Electro",
    "Electroclash",
    "Emo",
    "Experimental",
    "Garage",
    "Global",
    "IDM",
    "Illbient",
    "Industro-Goth",
    "Jam Band",
    "Krautrock",
    "Leftfield",
    "Lounge",
    "Math Rock",
    "New Romantic",
    "Nu-Breakz",
    "Post-Punk",
    "Post-Rock",
    "Psytrance",
    "Shoegaze",
    "Space Rock",
    "Trop Rock",
    "World Music",
    "Neoclassical",
    "Audiobook",
    "Audio Theatre",
    "Neue Deutsche Welle",
    "Podcast",
    "Indie Rock",
    "G-Funk",
    "Dubstep",
    "Garage Rock",
    "Psybient",
};

// A number and the name it stands for.
struct NamedNumber {
    std::uint64_t number;
    std::string_view name;
};

// The media kinds of stik.
inline constexpr std::array kMediaKinds = {
    NamedNumber{0, "Movie (old value)"}, NamedNumber{1, "Music"},       NamedNumber{2, "Audiobook"},
    NamedNumber{5, "Whacked bookmark"},  NamedNumber{6, "Music video"}, NamedNumber{9, "Movie"},
    NamedNumber{10, "TV show"},          NamedNumber{11, "Booklet"},    NamedNumber{14, "Ringtone"},
    NamedNumber{21, "Podcast"},          NamedNumber{23, "iTunes U"},
};

// The advisory ratings of rtng.
inline constexpr std::array kRatings = {
    NamedNumber{0, "None"},
    NamedNumber{1, "Explicit"},
    NamedNumber{2, "Clean"},
    NamedNumber{4, "Explicit (old value)"},
};

// The roles of a 3GPP location.
inline constexpr std::array kLocationRoles = {
    NamedNumber{0, "Shooting location"},
    NamedNumber{1, "Real location"},
    NamedNumber{2, "Fictional location"},
};

// The picture formats of a data atom's type.
inline constexpr std::array kPictureTypes = {
    NamedNumber{12, "GIF"},
    NamedNumber{13, "JPEG"},
    NamedNumber{14, "PNG"},
    NamedNumber{27, "BMP"},
};

// The name of `number` in `table`, or empty.
template <std::size_t N>
constexpr std::string_view name_of_number(const std::array<NamedNumber, N>& table,
                                          std::uint64_t number) {
    for (const NamedNumber& row : table) {
        if (row.number == number) {
            return row.name;
        }
    }
    return {};
}

}  // namespace boxwalk
