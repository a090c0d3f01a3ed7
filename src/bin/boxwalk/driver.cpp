#include "bin/boxwalk/driver.hpp"

#include "primitives/render.hpp"
#include "tree/scan.hpp"

namespace boxwalk {

int run(const std::vector<Argument>& args, const FileLoader& load, Output& out, Output& err) {
    int status = 0;
    if (args.size() < 2) {
        err.line("Usage: " + (args.empty() ? std::string() : args[0].text) + " <input.mp4>");
        status = 1;
    } else {
        out.line("[boxwalk] File: " + args[1].text);
        const LoadResult loaded = load(args[1]);
        if (!loaded.ok()) {
            err.line("[boxwalk] ERROR: read: " + loaded.error);
            status = 1;
        } else {
            Source& source = *loaded.source;
            out.line("[boxwalk] Size: " + decimal(source.size()) + " bytes");
            out.line("");
            scan_top_level(source, out);
            // A read that failed during the scan ended it; the lines
            // printed before stand.
            if (source.failed()) {
                err.line("[boxwalk] ERROR: read: " + *source.error());
                status = 1;
            }
        }
    }
    // A run whose output was lost must not report success.
    if (const auto failure = out.flush()) {
        if (!failure->closed_pipe) {
            err.line("[boxwalk] ERROR: write: " + failure->message);
        }
        status = 1;
    }
    return status;
}

}  // namespace boxwalk
