// Golden frames: a folder of approved frames (frame_0000.png, ...), written
// from a recording by `update` and compared with a new run by `check`. A
// frame differs when any pixel's colour differs; a frame the folder has and
// the run does not show is missing, one the run shows and the folder lacks
// is extra; both are differences. Goldens are compared by colour, so that a
// golden re-saved by another program (any PNG of 640 x 400) still compares.
#pragma once
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/hostlib/frame_selection.h"
#include "tools/hostlib/indexed_frame.h"

namespace nimbra {

// "frame_0007.png"
std::string goldenFileName(uint64_t frame);
// The frame numbers of the golden files in `dir`.
std::set<uint64_t> goldenFramesIn(const std::string &dir);

class GoldenUpdate {
public:
    // Creates the folder when missing.
    bool begin(const std::string &dir, const FrameSelection &frames, std::string &error);
    // Writes the frame when it is selected.
    bool add(const IndexedFrame &frame, std::string &error);
    // Removes the golden files of selected frames the run did not show and
    // the diff folder of an earlier check. `removed` names the files removed.
    bool finish(uint64_t framesShown, std::vector<std::string> &removed, std::string &error);
    uint64_t written() const { return written_; }

private:
    std::string dir_;
    FrameSelection frames_;
    uint64_t written_ = 0;
};

enum class GoldenOutcome {
    Differs,      // pixels differ
    Missing,      // the folder has the frame, the run did not show it
    Extra,        // the run showed the frame, the folder does not have it
    Unreadable,   // the golden file is no PNG of the screen's size
};

struct GoldenDifference {
    uint64_t frame = 0;
    GoldenOutcome outcome = GoldenOutcome::Differs;
    FrameChange change;       // Differs
    std::string diffImage;    // Differs: the frame with the differing pixels marked
    std::string detail;       // Unreadable: why; Differs: a diff image that could not be written
};
// One line for the difference ("frame 3: 1 pixel differs in the box ...").
std::string describeGoldenDifference(const GoldenDifference &difference, const std::string &dir,
                                     uint64_t framesShown);

class GoldenCheck {
public:
    // The folder must exist. Diff images of an earlier check are removed.
    bool begin(const std::string &dir, const FrameSelection &frames, std::string &error);
    // Compares a frame the run showed, when it is selected; a difference is
    // returned (and its diff image written).
    std::optional<GoldenDifference> add(const IndexedFrame &frame);
    // The selected golden frames the run never showed.
    std::vector<GoldenDifference> finish();
    uint64_t compared() const { return compared_; }
    const std::string &diffDir() const { return diffDir_; }

private:
    std::string dir_, diffDir_;
    FrameSelection frames_;
    std::set<uint64_t> golden_;
    uint64_t compared_ = 0;
};

// The picture a diff image shows: the run's frame dimmed to 40 %, each
// differing pixel magenta, and the box around them outlined in yellow
// (on the pixels just outside it, where they are on the screen).
constexpr Rgb kDiffMark{0xFF, 0x00, 0xFF};
constexpr Rgb kDiffBox{0xFF, 0xFF, 0x00};

}  // namespace nimbra
