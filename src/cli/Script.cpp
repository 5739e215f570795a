// zerimo-cli script: one document driven by one command a line.

#include "Cli.h"

#include "document/Commands.h"
#include "document/ZerimoDoc.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using namespace zerimo;

namespace {

const char* const kScriptUsage =
    "usage: zerimo-cli script [--answer yes|no|cancel] [--width W --height H] [FILE|-]\n"
    "\n"
    "Runs one document through the commands of FILE (standard input for '-' or none), one a line:\n"
    "  open PATH | new | save | saveas PATH | undo | redo | next | prev | delete | wallpaper\n"
    "  autorotate | report | state\n"
    "Message boxes print as 'message: TEXT' on standard error; 'Save changes to ...?' is answered\n"
    "with --answer (default no). A command that the menu would disable prints\n"
    "'message: disabled: NAME'. 'state' prints one JSON line. Blank lines and '#' comments are\n"
    "skipped. Exit status: 0, or 1 when a line is not a command, 2 for a usage error.\n";

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += char(c);
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else
            out += char(c);
    }
    return out + "\"";
}

void PrintState(CZerimoDoc& doc) {
    uint32_t w = 0, h = 0;
    doc.GetImageSize(w, h);
    const unsigned format = doc.bitmap ? unsigned(doc.bitmap->GetPixelFormat()) : 0;
    std::printf(
        "{\"title\":%s,\"path\":%s,\"modified\":%s,\"canUndo\":%s,\"canRedo\":%s,\"historySize\":%d,"
        "\"position\":%d,\"width\":%u,\"height\":%u,\"pixelFormat\":%u,\"bitsPerPixel\":%d,"
        "\"frameCount\":%u,\"currentFrame\":%d,\"hasTransparency\":%s,\"busy\":%s}\n",
        Json(doc.GetTitle()).c_str(), Json(doc.GetPathName()).c_str(), doc.IsModified() ? "true" : "false",
        QueryCommand(doc, ID_EDIT_UNDO).enabled ? "true" : "false", doc.canRedo ? "true" : "false",
        doc.History().Count(), doc.History().Position(), w, h, format, doc.bitsPerPixel, doc.frameCount,
        doc.currentFrame, doc.hasTransparency ? "true" : "false", doc.busy ? "true" : "false");
    std::fflush(stdout);
}

} // namespace

namespace cli {

int Script(int argc, char** argv) {
    CHeadlessHost host;
    std::string file = "-";
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kScriptUsage, stdout);
            return kExitOk;
        }
        const std::string a = argv[i];
        if (a == "--answer" || a == "--width" || a == "--height") {
            if (i + 1 >= argc) return UsageError(kScriptUsage, (a + " needs a value").c_str());
            const std::string v = argv[++i];
            if (a == "--answer") {
                if (v == "yes")
                    host.saveChangesAnswer = SaveChangesAnswer::Yes;
                else if (v == "no")
                    host.saveChangesAnswer = SaveChangesAnswer::No;
                else if (v == "cancel")
                    host.saveChangesAnswer = SaveChangesAnswer::Cancel;
                else
                    return UsageError(kScriptUsage, "--answer takes yes, no or cancel");
            } else {
                long n = 0;
                if (!ParseInt(v.c_str(), 1, 65535, n))
                    return UsageError(kScriptUsage, ("bad value for " + a).c_str());
                (a == "--width" ? host.windowWidth : host.windowHeight) = int(n);
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(kScriptUsage, ("unknown option " + a).c_str());
        } else {
            file = a;
        }
    }
    std::ifstream in;
    std::istream* src = &std::cin;
    if (file != "-") {
        in.open(file);
        if (!in) {
            std::fprintf(stderr, "zerimo-cli: cannot read '%s'\n", file.c_str());
            return kExitFailure;
        }
        src = &in;
    }

    CZerimoDoc doc(host);
    doc.OnNewDocument();
    int rc = kExitOk;
    std::string line;
    int lineNo = 0;
    while (std::getline(*src, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        line = line.substr(start);
        const size_t sp = line.find(' ');
        const std::string cmd = line.substr(0, sp);
        std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        while (!arg.empty() && (arg.back() == ' ' || arg.back() == '\t')) arg.pop_back();

        struct Entry {
            const char* name;
            unsigned id; // 0: always allowed
            bool needsArg;
        };
        static const Entry entries[] = {
            {"open", ID_FILE_OPEN, true},
            {"new", ID_FILE_NEW, false},
            {"save", ID_FILE_SAVE, false},
            {"saveas", ID_FILE_SAVE_AS, true},
            {"undo", ID_EDIT_UNDO, false},
            {"redo", ID_EDIT_REDO, false},
            {"next", ID_GET_NEXT, false},
            {"prev", ID_GET_PREV, false},
            {"delete", ID_DELETE, false},
            {"wallpaper", ID_WALLPAPER, false},
            {"autorotate", ID_AUTO_ROTATE, false},
            {"report", ID_PROPERTIES, false},
            {"state", 0, false},
        };
        const Entry* e = nullptr;
        for (const auto& x : entries)
            if (cmd == x.name) e = &x;
        if (!e || e->needsArg != !arg.empty()) {
            std::fprintf(stderr, "zerimo-cli: line %d: %s '%s'\n", lineNo,
                         e ? "bad arguments for" : "unknown command", cmd.c_str());
            rc = kExitFailure;
            continue;
        }
        if (e->id && !QueryCommand(doc, e->id).enabled) {
            std::fprintf(stderr, "message: disabled: %s\n", e->name);
            continue;
        }
        if (cmd == "open")
            doc.OpenDocumentFile(arg);
        else if (cmd == "new")
            doc.NewDocument();
        else if (cmd == "save")
            doc.DoFileSave();
        else if (cmd == "saveas") {
            host.savePath = arg;
            doc.DoSave(doc.GetPathName());
            host.savePath.clear();
        } else if (cmd == "undo")
            doc.OnEditUndo();
        else if (cmd == "redo")
            doc.OnEditRedo();
        else if (cmd == "next")
            doc.OnGetNext();
        else if (cmd == "prev")
            doc.OnGetPrev();
        else if (cmd == "delete")
            doc.OnDelete();
        else if (cmd == "wallpaper")
            doc.OnWallpaper();
        else if (cmd == "autorotate")
            doc.OnAutoRotate();
        else if (cmd == "report") {
            std::string report = doc.BuildPropertiesReport();
            std::fputs(report.c_str(), stdout);
            std::fflush(stdout);
        } else if (cmd == "state")
            PrintState(doc);
        // Work posted by background jobs completes before the next line.
        host.WaitForPosts([&] { return doc.busy != 0; });
        host.RunPosted();
    }
    return rc;
}

} // namespace cli
