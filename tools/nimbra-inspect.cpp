// Runs a recording on the device, in this process, and writes a report to
// look at in a browser: every frame, the commands that made it, the replies
// each produced and the lines each logged.
//   nimbra-inspect my.rec -o report && xdg-open report/index.html
#include <filesystem>

#include "tools/hostlib/cli.h"
#include "tools/inspect/report.h"
#include "tools/run/recording_run.h"

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-inspect",
                    "Runs a recording on the device and writes a report of every frame: the commands that made "
                    "it, their replies and log lines. The report is a page for any browser, offline.");
    cli.option("output", "DIR", "folder for the report (created; an earlier report there is replaced)", 'o')
        .positional("RECORDING", "recording to run, or a script of the text form (.nsc)")
        .example("nimbra-inspect examples/demo.rec -o demo-report && xdg-open demo-report/index.html");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    if (!cli.has("output")) return cli.usageError("--output DIR is needed: the folder for the report");
    const std::string path = cli.arg(0), dir = cli.value("output");
    std::string error;
    const auto recording = nimbra::loadRecording(path, error);
    if (!recording) return cli.fail(error);

    nimbra::Progress progress("inspecting", recording->size());
    nimbra::ReportOptions options;
    options.title = std::filesystem::path(path).filename().string();
    options.progress = [&progress](size_t done, size_t) { progress.update(done); };
    nimbra::ReportSummary summary;
    if (!nimbra::writeReport(*recording, dir, options, summary, error)) return cli.fail(error);
    progress.finish();
    printf("%llu frame%s, %llu command%s: %s\n", (unsigned long long)summary.frames, summary.frames == 1 ? "" : "s",
           (unsigned long long)summary.commands, summary.commands == 1 ? "" : "s", summary.page.c_str());
    return 0;
}
