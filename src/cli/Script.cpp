// zerimo-cli script: one document driven by one command a line.

#include "Cli.h"
#include "ScriptCommands.h"

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
    "Runs one document through the commands of FILE (standard input for '-' or none), one a line\n"
    "(listed below).\n"
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

std::vector<ScriptCommand>& ScriptCommands() {
    static std::vector<ScriptCommand> commands;
    return commands;
}

namespace {

bool Done(bool) {
    return true;
}

// The document's own commands; the operations of other areas register theirs beside them.
const ScriptRegistrar documentCommands({
    {"open", ID_FILE_OPEN, 1, -1,
     [](ScriptContext& c, auto&, const std::string& rest) { return Done(c.doc.OpenDocumentFile(rest)); },
     "open PATH"},
    {"new", ID_FILE_NEW, 0, 0, [](ScriptContext& c, auto&, auto&) { return Done(c.doc.NewDocument()); },
     "new"},
    {"save", ID_FILE_SAVE, 0, 0, [](ScriptContext& c, auto&, auto&) { return Done(c.doc.DoFileSave()); },
     "save"},
    {"saveas", ID_FILE_SAVE_AS, 1, -1,
     [](ScriptContext& c, auto&, const std::string& rest) {
         c.host.savePath = rest;
         c.doc.DoSave(c.doc.GetPathName());
         c.host.savePath.clear();
         return true;
     },
     "saveas PATH"},
    {"undo", ID_EDIT_UNDO, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnEditUndo();
         return true;
     },
     "undo"},
    {"redo", ID_EDIT_REDO, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnEditRedo();
         return true;
     },
     "redo"},
    {"next", ID_GET_NEXT, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnGetNext();
         return true;
     },
     "next"},
    {"prev", ID_GET_PREV, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnGetPrev();
         return true;
     },
     "prev"},
    {"delete", ID_DELETE, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnDelete();
         return true;
     },
     "delete"},
    {"wallpaper", ID_WALLPAPER, 0, 0,
     [](ScriptContext& c, auto&, auto&) { return Done(c.doc.OnWallpaper()); }, "wallpaper"},
    {"autorotate", ID_AUTO_ROTATE, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         c.doc.OnAutoRotate();
         return true;
     },
     "autorotate"},
    {"report", ID_PROPERTIES, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         std::fputs(c.doc.BuildPropertiesReport().c_str(), stdout);
         std::fflush(stdout);
         return true;
     },
     "report"},
    {"state", 0, 0, 0,
     [](ScriptContext& c, auto&, auto&) {
         PrintState(c.doc);
         return true;
     },
     "state"},
});

} // namespace

int Script(int argc, char** argv) {
    CHeadlessHost host;
    std::string file = "-";
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kScriptUsage, stdout);
            std::fputs("\ncommands:\n", stdout);
            for (const auto& c : ScriptCommands()) std::printf("  %s\n", c.help.c_str());
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

        std::vector<std::string> args;
        {
            std::istringstream words(arg);
            for (std::string w; words >> w;) args.push_back(w);
        }
        const ScriptCommand* e = nullptr;
        for (const auto& x : ScriptCommands())
            if (cmd == x.name) e = &x;
        if (!e || int(args.size()) < e->minArgs || (e->maxArgs >= 0 && int(args.size()) > e->maxArgs)) {
            std::fprintf(stderr, "zerimo-cli: line %d: %s '%s'\n", lineNo,
                         e ? "bad arguments for" : "unknown command", cmd.c_str());
            rc = kExitFailure;
            continue;
        }
        if (e->commandId && !QueryCommand(doc, e->commandId).enabled) {
            std::fprintf(stderr, "message: disabled: %s\n", e->name.c_str());
            continue;
        }
        ScriptContext ctx{doc, host};
        if (!e->run(ctx, args, arg)) {
            std::fprintf(stderr, "zerimo-cli: line %d: bad arguments for '%s'\n", lineNo, cmd.c_str());
            rc = kExitFailure;
        }
        // Work posted by background jobs completes before the next line.
        host.WaitForPosts([&] { return doc.busy != 0; });
        host.RunPosted();
    }
    return rc;
}

} // namespace cli
