// The Convert To commands of the script: each starts the document's colour reduction, whose job
// completes before the next line.

#include "ScriptCommands.h"

#include "document/Commands.h"

namespace cli {

namespace {

using namespace zerimo;

ScriptCommand ConvertCommand(const char* name, unsigned id, imaging::PixelFormat format) {
    return {name,
            id,
            0,
            0,
            [format](ScriptContext& c, auto&, auto&) {
                c.doc.ConvertTo(format, true);
                return true;
            },
            name};
}

const ScriptRegistrar quantCommands({
    ConvertCommand("convert-bw", ID_CONVERT_BW, imaging::PixelFormat1bppIndexed),
    ConvertCommand("convert-16", ID_CONVERT_16, imaging::PixelFormat4bppIndexed),
    ConvertCommand("convert-256", ID_CONVERT_256, imaging::PixelFormat8bppIndexed),
    ConvertCommand("convert-high", ID_CONVERT_HIGH, imaging::PixelFormat16bppRGB565),
});

} // namespace

} // namespace cli
