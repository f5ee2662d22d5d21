// tq73_main.cpp - tq73 and tq73.exe: the service console's commands from a
// shell, on the core of tq73panel.exe with a console in place of the dialog.
#include <cstdio>
#include <cstring>

#include "cli/args.h"
#include "cli/decode_view.h"
#include "platform/terminal.h"
#include "cli/output.h"
#include "cli/run.h"
#include "cli/station.h"

int main(int argc, char** argv) {
    platform::terminal::Init();
    const char* const* args = nullptr;
    const int count = platform::terminal::Arguments(argc, argv, args);
    static cli::Request request;
    bool usable = cli::ParseArguments(count, args, request);
    if (platform::terminal::ArgumentsRefused() != nullptr) {
        std::snprintf(request.error, sizeof request.error, "%s", platform::terminal::ArgumentsRefused());
        usable = false;
    }
    cli::out::Settings settings;
    settings.verbosity = request.verbosity;
    settings.json = request.json;
    settings.command = cli::CommandName(request.command);
    settings.answerYes = request.force;
    settings.decode = request.decode;
    const bool help = request.command == cli::Command::Help;
    if ((help || request.command == cli::Command::Version) && usable) {
        const char* text = help ? cli::UsageText() : cli::VersionText();
        if (request.json) {
            cli::out::Configure(settings);
            cli::out::AboutResult(help ? "help" : "version", text);
        } else {
            platform::terminal::Write(platform::terminal::Stream::Out, text, std::strlen(text));
        }
        return cli::kExitOk;
    }
    if (!usable) {
        // The arguments stopped being read at the bad one: --json anywhere
        // before "--" still asks for JSON.
        for (int i = 1; i < count && std::strcmp(args[i], "--") != 0; ++i) {
            if (std::strcmp(args[i], "--json") == 0) settings.json = true;
        }
        cli::out::Configure(settings);
        char text[400];
        std::snprintf(text, sizeof text, "%s%s", request.error,
                      std::strstr(request.error, "--help") != nullptr ? "" : " (tq73 --help shows the usage)");
        cli::out::Result(cli::kExitUsage, "usage", text);
        return cli::kExitUsage;
    }
    if (request.command == cli::Command::Decode) return cli::DecodeCommand(request);
    if (cli::ServesStation(request)) {
        cli::out::Configure(settings);
        return cli::station::Run(request, count, args);
    }
    const bool longOperation = request.command == cli::Command::Update || request.command == cli::Command::Recover ||
                               request.command == cli::Command::Read || request.command == cli::Command::Write ||
                               request.command == cli::Command::Verify;
    settings.bar = longOperation && !request.json && request.verbosity != cli::Verbosity::Quiet &&
                   platform::terminal::IsTerminal(platform::terminal::Stream::Err);
    cli::out::Configure(settings);
    return cli::Run(request);
}
