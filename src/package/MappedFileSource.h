// TMappedFileSource: the disk files of a show opened from its project file, with the project's two
// file tables. FileMap is asked first: a mapped name opens its first target instead, through this
// same source, so a target may itself be mapped (a chain that comes back to a name already on it
// opens nothing). Then a name with "|" opens the part before the first "|", the path modifiers
// apply, a relative name is taken against the source's base folder, and the file is opened for
// reading with every sharing mode. RotationState answers the rotation query of picture decoding.
//
// The tables are set once, while the show opens, before the source is shared; then any thread.
#pragma once

#include "package/ProjectFileTables.h"
#include "package/RealFileSource.h"

#include <optional>
#include <string>

namespace kiv {

class TMappedFileSource : public TRealFileSource {
public:
    // Longest FileMap chain followed before an open gives up.
    static constexpr int kMaxMapDepth = 32;

    // `baseFolder`: where relative names are looked for (empty: the current folder).
    explicit TMappedFileSource(std::string baseFolder = {});

    TRef<TStream> Open(const std::string& name) override;
    int Rotation(const std::string& name) const override;

    // Fills the tables from the project's sections; a table stays absent when its section gives
    // no valid line.
    void SetFileMap(TFileMap map);
    void SetRotationState(TRotationState rotation);
    const std::optional<TFileMap>& FileMap() const { return fileMap_; }
    const std::optional<TRotationState>& RotationState() const { return rotation_; }

protected:
    ~TMappedFileSource() override = default;
    // Opens a name the FileMap does not redirect.
    virtual TRef<TStream> OpenUnmapped(const std::string& name);

private:
    std::optional<TFileMap> fileMap_;
    std::optional<TRotationState> rotation_;
};

} // namespace kiv
