#pragma once

#include <mutex>
#include <string>
#include <vector>

// The file paths of a folder's frames while the folder is still being written: the run
// appends the frames that have arrived, decoders on worker threads look them up.
class CGrowingFrameList {
public:
    void Append(std::string path)
    {
        std::lock_guard<std::mutex> lock(mutex);
        paths.push_back(std::move(path));
    }

    // Empty for a frame not (yet) in the list.
    std::string Path(int index) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return index >= 0 && index < static_cast<int>(paths.size()) ? paths[static_cast<size_t>(index)]
                                                                     : std::string();
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> paths;
};
