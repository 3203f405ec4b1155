#include "engine/fleet/firmware_set.h"

#include "image/container.h"
#include "image/sha256.h"

namespace quorsel {

namespace {

// One file opened as a run opens it, then read whole for its digest.
Result<FirmwareFile, std::string> OpenOne(const std::string& path) {
    const std::optional<uint64_t> size = FileSizeOf(path);
    Descrambler descrambler;
    auto opened = OpenContainer(path, descrambler);
    if (!opened) return Fail(path + ": " + DescribeContainerError(opened.error()));
    FirmwareFile file;
    file.path = path;
    file.model.assign(reinterpret_cast<const char*>(opened->trailerTail.data()), MODEL_CODE_LENGTH);
    file.size = size.value_or(0);
    std::optional<std::string> digest = Sha256Of(opened->stream, file.size);
    if (!digest) return Fail(path + ": " + DescribeContainerError(ContainerError::ReadFailed));
    file.sha256 = *digest;
    return file;
}

}  // namespace

Result<FirmwareSet, std::string> FirmwareSet::Open(const std::vector<std::string>& paths) {
    FirmwareSet set;
    for (const std::string& path : paths) {
        auto file = OpenOne(path);
        if (!file) return Fail(file.error());
        if (const FirmwareFile* earlier = set.ForModel(file->model)) {
            return Fail("two firmware files for the model " + file->model + ": " + earlier->path + " and " + path);
        }
        set.files_.push_back(std::move(file.value()));
    }
    return set;
}

const FirmwareFile* FirmwareSet::ForModel(const std::string& model) const {
    for (const FirmwareFile& file : files_) {
        if (file.model == model) return &file;
    }
    return nullptr;
}

std::string FirmwareSet::ModelsText() const {
    std::string text;
    for (const FirmwareFile& file : files_) {
        if (!text.empty()) text += ", ";
        text += file.model;
    }
    return text;
}

}  // namespace quorsel
