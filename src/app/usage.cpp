#include "app/usage.hpp"

namespace tolva {

const std::string_view usageText =
    "usage:\n"
    "  tolva-speech probe [--locale de-DE]\n"
    "  tolva-speech install --locale de-DE\n"
    "  tolva-speech release --locale de-DE\n"
    "  tolva-speech transcribe <audio-file> [--locale de-DE] [--auto-install]\n"
    "  tolva-speech listen\n"
    "  tolva-speech --version\n"
    "\n"
    "`release` frees one of the 5 AssetInventory reservation slots. It has NO default locale \xE2\x80\x94\n"
    "a destructive command must never have a default target.\n"
    "\n"
    "`listen` speaks NDJSON on both directions \xE2\x80\x94 see native/tolva-speech/README.md \xC2\xA7 listen.\n"
    "  stdin:  {\"cmd\":\"start\",\"locale\":\"de-DE\",\"replay\":\"\xE2\x80\xA6\"} | {\"cmd\":\"stop\"} | {\"cmd\":\"quit\"}\n"
    "  stdout: ready | session-started | volatile | final | session-ended | error\n";

}  // namespace tolva
