#include "cli.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <tarnscsi/cooling.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/manager.h>
#include <tarnscsi/trace.h>
#include <tarnscsi/units.h>

#include "command_words.h"
#include "cool_command.h"
#include "errors.h"
#include "exit_codes.h"
#include "expose_command.h"
#include "expose_display.h"
#include "interrupt.h"
#include "json_events.h"
#include "number_format.h"
#include "option_checks.h"
#include "options.h"
#include "pending_file.h"
#include "scan_command.h"
#include "status_command.h"
#include "terminal.h"
#include "trace_loss.h"
#include "version.h"

namespace tarnscsi::tool {

namespace {

constexpr int kOpticsLimitDecimals = 0;
constexpr int kGainLimitDecimals = 0;
constexpr int kRateLimitDecimals = 1;

CLI::App* AddExpose(CLI::App& app, ExposeOptions& o) {
    auto* cmd = app.add_subcommand("expose", "Take an exposure (or a sequence) and save it as FITS");
    cmd->add_option("seconds", o.seconds, "Exposure time in seconds")
        ->required()
        ->check(NumberFrom(kMinExposureSeconds, kMaxExposureSeconds, kExposureDecimals, "s"));
    cmd->add_option("-o,--output", o.output,
                    "FITS file to write ('-': standard output); for a sequence a name with a counter, e.g. "
                    "frame_%04d.fits")
        ->required();
    cmd->add_option("-b,--bin", o.binning, "Binning: 1, or 2 for 2 x 2")
        ->capture_default_str()
        ->check(CLI::Range(kUnbinned, kMaxBinning));
    cmd->add_option("--x", o.x, "Subframe left edge, unbinned pixels from 0 (a multiple of the binning)")
        ->capture_default_str()
        ->check(CLI::Range(0, kSensorWidth - 1));
    cmd->add_option("--y", o.y, "Subframe top edge, unbinned pixels from 0 (a multiple of the binning)")
        ->capture_default_str()
        ->check(CLI::Range(0, kSensorHeight - 1));
    cmd->add_option("--width", o.width, "Subframe width in unbinned pixels (default: to the right edge)")
        ->check(CLI::Range(1, kSensorWidth));
    cmd->add_option("--height", o.height, "Subframe height in unbinned pixels (default: to the bottom edge)")
        ->check(CLI::Range(1, kSensorHeight));
    cmd->add_option("-n,--count", o.count, "Number of frames to take")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxFrameCount));
    cmd->add_option("--preview", o.preview,
                    "Also write an auto-stretched 8-bit PNG preview (a counter works as in --output;"
                    " without one it shows the latest frame)");
    const std::vector<std::string> typeNames(imaging::kImageTypeNames.begin(), imaging::kImageTypeNames.end());
    cmd->add_option("-t,--type", o.type, "Image type for IMAGETYP")
        ->capture_default_str()
        ->check(CLI::IsMember(typeNames));
    auto* setTemp =
        cmd->add_option("--set-temp", o.setTemp, "Send this cooler setpoint first and record it as SET-TEMP")
            ->check(NumberFrom(kMinSetpointCelsius, kMaxSetpointCelsius, kTemperatureDecimals, "C"));
    cmd->add_option("--cool-wait", o.coolWait,
                    "Before the first frame, wait at most this many seconds for the sensor to come within "
                    "0.5 C of --set-temp")
        ->needs(setTemp)
        ->check(PositiveUpTo(kMaxWaitSeconds, 0, "s"));
    FrameMetadata& m = o.metadata;
    cmd->add_option("--object", m.object, "OBJECT: what was observed")->check(FitsText());
    cmd->add_option("--filter", m.filter, "FILTER: the filter in the light path")->check(FitsText());
    cmd->add_option("--observer", m.observer, "OBSERVER: who observed")->check(FitsText());
    cmd->add_option("--telescope", m.telescope, "TELESCOP: the telescope")->check(FitsText());
    cmd->add_option("--focal-length", m.focalLength, "FOCALLEN: focal length in mm")
        ->check(PositiveUpTo(kMaxOpticsMillimetres, kOpticsLimitDecimals, "mm"));
    cmd->add_option("--aperture", m.aperture, "APTDIA: aperture diameter in mm")
        ->check(PositiveUpTo(kMaxOpticsMillimetres, kOpticsLimitDecimals, "mm"));
    cmd->add_option("--egain", m.electronsPerAdu, "EGAIN: electrons per count (e-/ADU)")
        ->check(PositiveUpTo(kMaxElectronsPerAdu, kGainLimitDecimals, "e-/ADU"));
    cmd->add_option("--key", m.extraCards,
                    "Another FITS keyword, KEY=VALUE (repeatable); a number is written as a number")
        ->check(FitsCard());
    cmd->add_flag("--overwrite", o.overwrite, "Replace existing files (regular files you may write only)");
    cmd->add_flag("-q,--quiet", o.quiet, "No progress and no report; only errors");
    cmd->add_flag("--json", o.json,
                  "One JSON object per line on stdout for each event (started, progress, saved, warning, error); "
                  "on stderr when the FITS goes to stdout (-o -)");
    cmd->footer(std::string("Output names take one %d or %0Nd counter (%04d: 0001, 0002, ...), numbered from 1.\n") +
                kExitCodeHelp);
    return cmd;
}

CLI::App* AddCool(CLI::App& app, CoolOptions& o) {
    auto* cmd = app.add_subcommand(
        "cool", "Set the cooler's setpoint and optionally wait until it is reached, or warm up gently (--off)");
    auto* celsius = cmd->add_option("celsius", o.celsius, "Setpoint in degrees Celsius")
                        ->check(NumberFrom(kMinSetpointCelsius, kMaxSetpointCelsius, kTemperatureDecimals, "C"));
    auto* off = cmd->add_flag("--off", o.off,
                              "Raise the setpoint gradually to the surroundings' temperature, then leave the "
                              "cooler idle");
    off->excludes(celsius);
    cmd->add_option("--ramp", o.ramp, "Warm-up rate in C per minute")
        ->capture_default_str()
        ->needs(off)
        ->check(NumberFrom(kMinWarmUpRate, kMaxWarmUpRate, kRateLimitDecimals, "C/min"));
    auto* wait = cmd->add_flag("-w,--wait", o.wait,
                               "Wait until the sensor is within the tolerance; stop at once when the cooler "
                               "cannot get there");
    wait->excludes(off);
    cmd->add_option("--tolerance", o.tolerance, "Tolerance in C while waiting")
        ->capture_default_str()
        ->needs(wait)
        ->check(PositiveUpTo(kMaxToleranceCelsius, kTemperatureDecimals, "C"));
    cmd->add_option("--timeout", o.timeout, "Time limit in seconds while waiting")
        ->capture_default_str()
        ->needs(wait)
        ->check(PositiveUpTo(kMaxWaitSeconds, 0, "s"));
    cmd->add_flag("-q,--quiet", o.quiet, "No progress and no report; only errors");
    cmd->add_flag("--json", o.json, "One JSON object per line on stdout for each event");
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

int UsageFailure(const std::string& message) {
    PrintError(message);
    std::fprintf(stderr, "Run with --help for more information.\n");
    return kExitUsage;
}

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

// Runs a command, turning its outcome into the exit code. With `events`
// (the --json stream), a failure is also an "error" event there.
int Guarded(const char* onInterrupt, std::FILE* events, const std::function<int()>& command) {
    const auto event = [events](const char* kind, const std::string& message) {
        if (events != nullptr) PrintJsonEvent("error", {{"kind", kind}, {"message", message}}, events);
    };
    try {
        return command();
    } catch (const UsageError& e) {
        event("usage", e.what());
        return UsageFailure(e.what());
    } catch (const Interrupted&) {
        std::fflush(stdout);
        event("interrupted", onInterrupt);
        std::fprintf(stderr, "\ntarnscsi: %s\n", onInterrupt);
        return kExitInterrupted;
    } catch (const std::exception& e) {
        event("failure", e.what());
        PrintError(e.what());
        return kExitFailure;
    }
}

// A dark or bias frame needs the telescope covered: this camera has no
// shutter. Said once, to a person at a terminal.
void RemindToCover(const ExposeRequest& request) {
    if (request.quiet || request.json || !IsTerminal(stderr)) return;
    if (request.type != ImageType::kDark && request.type != ImageType::kBias) return;
    std::fprintf(stderr, "tarnscsi: note: this camera has no shutter; cover the telescope for %s frames.\n",
                 request.type == ImageType::kDark ? "dark" : "bias");
}

// Where --json sends what the command says: the event stream of expose and
// cool, or the one document of status and scan.
struct JsonOutput {
    std::FILE* events = nullptr;
    bool statusDocument = false;
    bool scanDocument = false;
};

// JSON where the command promised it, when it ends before it starts (the
// manager cannot be chosen, a refusal): an error event, or the document
// with its error.
void PrintEarlyFailureJson(const JsonOutput& json, const char* kind, const std::string& problem) {
    if (json.events != nullptr) PrintJsonEvent("error", {{"kind", kind}, {"message", problem}}, json.events);
    if (!json.statusDocument && !json.scanDocument) return;
    nlohmann::json out;
    if (json.statusDocument) {
        out["connected"] = false;
    } else {
        out["manager"] = nullptr;
    }
    out["error"] = problem;
    std::printf("%s\n", JsonText(out, kJsonIndent).c_str());
}

// A refusal before anything is done (exit code 2), in JSON too.
int Refuse(const JsonOutput& json, const std::string& problem) {
    PrintEarlyFailureJson(json, "usage", problem);
    return UsageFailure(problem);
}

// TARNSCSI_TRACE=1 with standard error closed at the start: the module
// would write the trace to the /dev/null put there, and nobody would know.
void NoteTraceToClosedStandardError() {
    const char* value = std::getenv(kTraceVariable);
    if (value == nullptr || !TraceFileIsStandardError(value)) return;
    NoteTraceLost(std::string(kTraceVariable) + "=" + value +
                  ": standard error is closed, so the command trace is lost; give it a file (" + kTraceVariable +
                  "=FILE or --trace=FILE)");
}

// A failed write to stdout (a full disk, a closed pipe) fails the command;
// a command that failed already has said why.
int CheckStandardOutput(int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    if (code != kExitOk) return code;
    PrintError("cannot write to standard output: " + ErrnoText(errno));
    return kExitFailure;
}

// The command succeeded, but the trace it was asked for lost lines (the
// library has said why on stderr): the exit code says so too.
int CheckTrace(int code) { return code == kExitOk && !TraceLost().empty() ? kExitTraceLost : code; }

// The --json event stream hears of a lost trace too, as the command's last word.
int ReportTraceLoss(const JsonOutput& json, int code) {
    if (const std::string lost = TraceLost(); json.events != nullptr && !lost.empty()) {
        PrintJsonEvent("warning", {{"kind", "trace"}, {"message", lost}}, json.events);
    }
    return code;
}

int RunParsed(std::vector<std::string> args, ClosedStandardDescriptors closed) {
    CLI::App app{"Drive the cooled SCSI camera: expose frames to FITS, cool, ask its status.", "tarnscsi"};
    app.set_version_flag("--version", kSoftwareName);
    app.require_subcommand(1);
    // Global options also after the subcommand: "tarnscsi status --simulate".
    app.fallthrough();
    app.footer(std::string("'tarnscsi help COMMAND' shows a command's options.\n") + kExitCodeHelp);
    bool simulate = false;
    app.add_flag("--simulate", simulate,
                 std::string("Use the simulated camera: the simulator's manager library found beside the tool (") +
                     kSimulatorVariable + " names another one, and alone also chooses it)");
    std::optional<std::string> trace;
    app.add_option(
           "--trace", trace,
           std::string("Log every SCSI command, one line each (name, address, command bytes, statuses, "
                       "sense, duration), to standard error (no value or '-') or appended to FILE (--trace FILE or "
                       "--trace=FILE; a file named like a command needs the '='); ") +
               kTraceVariable + " does the same without the option")
        ->expected(0, 1)
        ->type_name("[FILE]");

    ExposeOptions expose;
    CoolOptions cool;
    bool json = false;
    auto* exposeCmd = AddExpose(app, expose);
    auto* coolCmd = AddCool(app, cool);
    auto* statusCmd = AddStatus(app, json);
    auto* scanCmd = AddScan(app, json);

    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
    if (const std::string problem = CheckCommandWords(args, names); !problem.empty()) return UsageFailure(problem);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return UsageFailure(e.what());
    }

    // Reports and events never share stdout with the FITS itself.
    std::FILE* reports = exposeCmd->parsed() && FitsToStandardOutput(expose) ? stderr : stdout;
    JsonOutput jsonOutput;
    if (exposeCmd->parsed() && expose.json) jsonOutput.events = reports;
    if (coolCmd->parsed() && cool.json) jsonOutput.events = stdout;
    jsonOutput.statusDocument = json && statusCmd->parsed();
    jsonOutput.scanDocument = json && scanCmd->parsed();

    // A descriptor closed at the start is /dev/null now: what was meant for
    // it would be lost without a word.
    if (closed.output && exposeCmd->parsed() && FitsToStandardOutput(expose)) {
        return Refuse(jsonOutput,
                      "-o -: standard output is closed; give the FITS a file name (-o frame.fits), or somewhere to "
                      "go (-o - > frame.fits)");
    }
    if (trace) {
        const std::string file = trace->empty() ? std::string(kTraceToStandardError) : *trace;
        if (closed.error && TraceFileIsStandardError(file)) {
            return Refuse(jsonOutput, "--trace: standard error is closed; give the trace a file: --trace=FILE");
        }
        if (const std::string problem = UnsupportedPathName(file); !problem.empty()) {
            return Refuse(jsonOutput, "--trace " + file + ": " + problem);
        }
        if (const std::string problem = TraceToFile(file); !problem.empty()) {
            return Refuse(jsonOutput, "--trace: " + problem);
        }
    } else if (closed.error) {
        NoteTraceToClosedStandardError();
    }
    // Before anything loads the module's manager; no other manager instead.
    if (const std::string problem = ChooseManager(simulate); !problem.empty()) {
        PrintEarlyFailureJson(jsonOutput, "failure", problem);
        PrintError(problem);
        return kExitFailure;
    }
    InstallInterruptHandler();
    if (exposeCmd->parsed()) {
        return ReportTraceLoss(jsonOutput,
                               Guarded("interrupted; the frame in progress was discarded", jsonOutput.events, [&] {
                                   const ExposeRequest request = CheckExposeOptions(expose);
                                   RemindToCover(request);
                                   ExposeDisplay display(request.quiet, reports);
                                   JsonExposeEvents events(reports);
                                   RunExpose(request, request.json ? static_cast<ExposeObserver&>(events) : display);
                                   return kExitOk;
                               }));
    }
    if (coolCmd->parsed()) {
        return ReportTraceLoss(jsonOutput, Guarded("interrupted", jsonOutput.events, [&] {
                                   RunCool(CheckCoolOptions(cool));
                                   return kExitOk;
                               }));
    }
    if (statusCmd->parsed()) return Guarded("interrupted", nullptr, [&] { return RunStatus(json); });
    if (scanCmd->parsed()) return Guarded("interrupted", nullptr, [&] { return RunScan(json); });
    return kExitUsage;
}

}  // namespace

int Run(int argc, char** argv, ClosedStandardDescriptors closed) {
    std::vector<std::string> args(argv, argv + argc);
    return CheckTrace(CheckStandardOutput(RunParsed(RewriteHelpCommand(std::move(args)), closed)));
}

}  // namespace tarnscsi::tool
