// Golden frames for a host application's tests: `update` writes the frames
// a recording shows into a folder, `check` runs it again and compares.
//   nimbra-golden update app.rec tests/golden     # after looking at the frames
//   nimbra-golden check app.rec tests/golden      # in CI: exit 1 when a frame differs
#include <algorithm>
#include <cstdio>

#include "tools/export/golden.h"
#include "tools/hostlib/cli.h"
#include "tools/run/recording_run.h"

namespace {

// Exit statuses: the frames are the same, differ, or could not be compared.
constexpr int kSame = 0, kDiffer = 1, kCannotCompare = 2;

class GoldenRun : public nimbra::RunObserver {
public:
    GoldenRun(nimbra::GoldenUpdate *update, nimbra::GoldenCheck *check, const nimbra::FrameSelection &frames,
              nimbra::Progress &progress)
        : update_(update), check_(check), frames_(frames), progress_(progress) {}

    void frame(const nimbra::IndexedFrame &frame) override {
        shown_ = frame.number + 1;
        if (update_ && error_.empty()) update_->add(frame, error_);
        if (check_) {
            if (auto d = check_->add(frame)) differences_.push_back(*d);
        }
    }
    bool wantsMore() override { return error_.empty() && !frames_.endsBefore(shown_); }
    void progress(size_t done, size_t) override { progress_.update(done); }

    uint64_t shown_ = 0;
    std::string error_;
    std::vector<nimbra::GoldenDifference> differences_;

private:
    nimbra::GoldenUpdate *update_;
    nimbra::GoldenCheck *check_;
    const nimbra::FrameSelection &frames_;
    nimbra::Progress &progress_;
};

}  // namespace

int main(int argc, char **argv) {
    nimbra::Cli cli("nimbra-golden",
                    "Keeps approved frames of a recording in a folder (frame_NNNN.png) and compares new runs "
                    "with them. check exits 0 when every frame matches, 1 when any differs, is missing or is "
                    "extra, 2 when it cannot compare.");
    cli.command("update", "run the recording and write its frames into DIR (frames no longer shown are removed)")
        .command("check", "run the recording and compare its frames with DIR; differing pixels are marked in "
                          "DIR/diff/frame_NNNN.png")
        .option("frames", "LIST", "only these frames, such as 1,4-9 or 20- (default: all)")
        .positional("RECORDING", "recording to run, or a script of the text form (.nsc)")
        .positional("DIR", "folder of the golden frames")
        .example("nimbra-golden update app.rec tests/golden")
        .example("nimbra-golden check app.rec tests/golden || echo 'frames differ: see tests/golden/diff'");
    if (int exitCode; !cli.parse(argc, argv, exitCode)) return exitCode;
    const bool update = cli.arg(0) == "update";
    const std::string path = cli.arg(1), dir = cli.arg(2);
    std::string error;
    nimbra::FrameSelection frames;
    if (cli.has("frames")) {
        auto parsed = nimbra::FrameSelection::parse(cli.value("frames"), error);
        if (!parsed) return cli.usageError("--frames: " + error);
        frames = *parsed;
    }
    const auto recording = nimbra::loadRecording(path, error);
    if (!recording) {
        cli.fail(error);
        return kCannotCompare;
    }

    nimbra::GoldenUpdate updater;
    nimbra::GoldenCheck checker;
    if (update ? !updater.begin(dir, frames, error) : !checker.begin(dir, frames, error)) {
        cli.fail(error);
        return kCannotCompare;
    }
    nimbra::Progress progress(update ? "updating" : "checking", recording->size());
    GoldenRun run(update ? &updater : nullptr, update ? nullptr : &checker, frames, progress);
    nimbra::RunOptions options;
    options.log = false;
    nimbra::RunSummary summary;
    const bool ran = nimbra::runRecording(recording->data(), recording->size(), run, options, summary, error);
    progress.finish();
    if (!ran || !run.error_.empty()) {
        cli.fail(ran ? run.error_ : error);
        return kCannotCompare;
    }

    if (update) {
        std::vector<std::string> removed;
        if (!updater.finish(run.shown_, removed, error)) {
            cli.fail(error);
            return kCannotCompare;
        }
        for (const std::string &file : removed) printf("removed %s: the recording no longer shows it\n", file.c_str());
        printf("%llu frame%s written to %s\n", (unsigned long long)updater.written(),
               updater.written() == 1 ? "" : "s", dir.c_str());
        return kSame;
    }
    for (const auto &d : checker.finish()) run.differences_.push_back(d);
    for (const auto &d : run.differences_)
        printf("%s\n", nimbra::describeGoldenDifference(d, dir, run.shown_).c_str());
    const auto missing = std::count_if(run.differences_.begin(), run.differences_.end(), [](const auto &d) {
        return d.outcome == nimbra::GoldenOutcome::Missing;
    });
    const uint64_t compared = checker.compared() + (uint64_t)missing;
    if (compared == 0) {
        cli.fail("no frame to compare: the recording shows none of the frames asked for, and " + dir +
                 " holds none of them");
        return kCannotCompare;
    }
    if (run.differences_.empty()) {
        printf("%llu frame%s match %s\n", (unsigned long long)checker.compared(),
               checker.compared() == 1 ? "" : "s", dir.c_str());
        return kSame;
    }
    printf("%zu of %llu frames differ from %s\n", run.differences_.size(), (unsigned long long)compared,
           dir.c_str());
    return kDiffer;
}
