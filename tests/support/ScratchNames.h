#pragma once
// Names for the scratch files and folders of one test run. A Wine process id is
// unique only within its own bench, and the two widths' benches run side by side,
// sharing the host's folders (drive Z:, the folder a test was started from) and its
// process list: a name also carries the width and the moment the process first asked.
#include <string>

// "<what>-w<width>-<process id>-<start>", the same for the whole run.
std::string scratchName(const std::string& what);

// A fresh folder under the temporary folder, named by scratchName and a count of the
// folders made so far; it goes with the files in it when the object does.
class RunScratchFolder {
public:
    explicit RunScratchFolder(const std::string& what);
    ~RunScratchFolder();
    RunScratchFolder(const RunScratchFolder&) = delete;
    RunScratchFolder& operator=(const RunScratchFolder&) = delete;

    const std::string& path() const { return path_; }  // no backslash at the end
    const std::string& name() const { return name_; }  // the folder's own name, unique to the run
    std::string file(const std::string& fileName) const { return path_ + "\\" + fileName; }

private:
    std::string name_;
    std::string path_;
};
