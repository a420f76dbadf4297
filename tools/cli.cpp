#include "cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include <tarnscsi/manager.h>
#include <tarnscsi/trace.h>
#include <tarnscsi/units.h>

#include "cool_command.h"
#include "errors.h"
#include "exit_codes.h"
#include "expose_command.h"
#include "expose_display.h"
#include "interrupt.h"
#include "number_format.h"
#include "options.h"
#include "scan_command.h"
#include "status_command.h"
#include "version.h"

namespace tarnscsi::tool {

namespace {

CLI::App* AddExpose(CLI::App& app, ExposeOptions& o) {
    auto* cmd = app.add_subcommand("expose", "Take an exposure (or a sequence) and save it as FITS");
    cmd->add_option("seconds", o.seconds,
                    "Exposure time in seconds (0 to " + Fixed(kMaxExposureSeconds, kExposureDecimals) + ")")
        ->required();
    cmd->add_option("-o,--output", o.output,
                    "FITS file to write; for a sequence a name with a counter, e.g. frame_%04d.fits")
        ->required();
    cmd->add_option("-b,--bin", o.binning, "Binning: 1, or 2 for 2 x 2")->capture_default_str();
    cmd->add_option("--x", o.x, "Subframe left edge, unbinned pixels from 0")->capture_default_str();
    cmd->add_option("--y", o.y, "Subframe top edge, unbinned pixels from 0")->capture_default_str();
    cmd->add_option("--width", o.width, "Subframe width in unbinned pixels (default: to the right edge)");
    cmd->add_option("--height", o.height, "Subframe height in unbinned pixels (default: to the bottom edge)");
    cmd->add_option("-n,--count", o.count, "Number of frames to take")->capture_default_str();
    cmd->add_option("--preview", o.preview,
                    "Also write an auto-stretched 8-bit PNG preview (a counter works as in --output;"
                    " without one it shows the latest frame)");
    cmd->add_option("-t,--type", o.type, "Image type for IMAGETYP: light, dark, bias or flat")->capture_default_str();
    auto* setTemp =
        cmd->add_option("--set-temp", o.setTemp, "Send this cooler setpoint (C) first and record it as SET-TEMP");
    cmd->add_option("--cool-wait", o.coolWait,
                    "Before the first frame, wait at most this many seconds for the sensor to come within "
                    "0.5 C of --set-temp")
        ->needs(setTemp);
    cmd->add_flag("--overwrite", o.overwrite, "Replace existing files");
    cmd->add_flag("-q,--quiet", o.quiet, "No progress and no report; only errors");
    cmd->footer(std::string("Output names take one %d-style counter (%04d: 0001, 0002, ...), numbered from 1.\n") +
                kExitCodeHelp);
    return cmd;
}

CLI::App* AddCool(CLI::App& app, CoolOptions& o) {
    auto* cmd = app.add_subcommand("cool", "Set the cooler's setpoint, and optionally wait until it is reached");
    cmd->add_option("celsius", o.celsius,
                    "Setpoint in degrees Celsius (" + Fixed(kMinSetpointCelsius, 0) + " to " +
                        Fixed(kMaxSetpointCelsius, 0) + ")")
        ->required();
    auto* wait = cmd->add_flag("-w,--wait", o.wait, "Wait until the sensor is within the tolerance");
    cmd->add_option("--tolerance", o.tolerance, "Tolerance in C while waiting")->capture_default_str()->needs(wait);
    cmd->add_option("--timeout", o.timeout, "Time limit in seconds while waiting")->capture_default_str()->needs(wait);
    cmd->add_flag("-q,--quiet", o.quiet, "No progress and no report; only errors");
    cmd->footer(kExitCodeHelp);
    return cmd;
}

CLI::App* AddStatus(CLI::App& app, bool& json) {
    auto* cmd = app.add_subcommand("status", "Where the camera is, its temperature and cooler drive");
    cmd->add_flag("--json", json, "One JSON object on stdout, also on failure");
    cmd->footer(kExitCodeHelp);
    return cmd;
}

CLI::App* AddScan(CLI::App& app, bool& json) {
    auto* cmd =
        app.add_subcommand("scan", "List what the ASPI manager sees on the SCSI bus, and why a device cannot be used");
    cmd->add_flag("--json", json, "One JSON object on stdout, also on failure");
    cmd->footer(kExitCodeHelp);
    return cmd;
}

void PrintError(const std::string& message) { std::fprintf(stderr, "tarnscsi: error: %s\n", message.c_str()); }

// Standard error, for --trace without a value.
constexpr char kTraceToStandardError[] = "-";

// The manager the module will load: the simulator with --simulate (the one
// TARNSCSI_SIMULATOR names, else the one found beside the tool), the one
// TARNSCSI_SIMULATOR names alone, else the installed one. "" on success.
std::string ChooseManager(bool simulate) {
    if (simulate) {
        const std::string problem = UseManager({ManagerKind::kSimulator, {}});
        return problem.empty() ? problem : "--simulate: cannot use the simulator: " + problem;
    }
    const std::string problem = UseManagerFromEnvironment();
    return problem.empty() ? problem
                           : std::string("cannot use the simulator ") + kSimulatorVariable + " names: " + problem;
}

// Runs a command, turning its outcome into the exit code.
int Guarded(const char* onInterrupt, const std::function<int()>& command) {
    try {
        return command();
    } catch (const UsageError& e) {
        PrintError(e.what());
        std::fprintf(stderr, "Run with --help for more information.\n");
        return kExitUsage;
    } catch (const Interrupted&) {
        std::fflush(stdout);
        std::fprintf(stderr, "\ntarnscsi: %s\n", onInterrupt);
        return kExitInterrupted;
    } catch (const ToolError& e) {
        PrintError(e.what());
        return kExitFailure;
    } catch (const std::exception& e) {
        PrintError(e.what());
        return kExitFailure;
    }
}

}  // namespace

int Run(int argc, char** argv) {
    CLI::App app{"Drive the cooled SCSI camera: expose frames to FITS, cool, ask its status.", "tarnscsi"};
    app.set_version_flag("--version", kSoftwareName);
    app.require_subcommand(1);
    app.footer(kExitCodeHelp);
    bool simulate = false;
    app.add_flag("--simulate", simulate,
                 std::string("Use the simulated camera: the simulator's manager library found beside the tool (") +
                     kSimulatorVariable + " names another one, and alone also chooses it)");
    std::optional<std::string> trace;
    app.add_option("--trace", trace,
                   std::string("Log every SCSI command, one line each (name, address, command bytes, statuses, "
                               "sense, duration), to standard error (no value or '-') or appended to FILE; ") +
                       kTraceVariable + " does the same without the option")
        ->expected(0, 1)
        ->type_name("[=FILE]");

    ExposeOptions expose;
    CoolOptions cool;
    bool json = false;
    auto* exposeCmd = AddExpose(app, expose);
    auto* coolCmd = AddCool(app, cool);
    auto* statusCmd = AddStatus(app, json);
    auto* scanCmd = AddScan(app, json);

    // CLI11 would only say that a subcommand is required; name the word.
    if (argc > 1 && argv[1][0] != '-') {
        const std::string word = argv[1];
        if (word != exposeCmd->get_name() && word != coolCmd->get_name() && word != statusCmd->get_name() &&
            word != scanCmd->get_name()) {
            PrintError("unknown command '" + word + "' (commands: expose, cool, status, scan)");
            std::fprintf(stderr, "Run with --help for more information.\n");
            return kExitUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        PrintError(e.what());
        std::fprintf(stderr, "Run with --help for more information.\n");
        return kExitUsage;
    }

    if (trace) {
        const std::string file = trace->empty() ? std::string(kTraceToStandardError) : *trace;
        if (const std::string problem = TraceToFile(file); !problem.empty()) {
            PrintError("--trace: " + problem);
            return kExitFailure;
        }
    }
    // Before anything loads the module's manager; no other manager instead.
    if (const std::string problem = ChooseManager(simulate); !problem.empty()) {
        PrintError(problem);
        return kExitFailure;
    }
    InstallInterruptHandler();
    if (exposeCmd->parsed()) {
        return Guarded("interrupted; the frame in progress was discarded", [&] {
            const ExposeRequest request = CheckExposeOptions(expose);
            ExposeDisplay display(request.quiet);
            RunExpose(request, display);
            return kExitOk;
        });
    }
    if (coolCmd->parsed()) {
        return Guarded("interrupted", [&] {
            RunCool(CheckCoolOptions(cool));
            return kExitOk;
        });
    }
    if (statusCmd->parsed()) return Guarded("interrupted", [&] { return RunStatus(json); });
    if (scanCmd->parsed()) return Guarded("interrupted", [&] { return RunScan(json); });
    return kExitUsage;
}

}  // namespace tarnscsi::tool
