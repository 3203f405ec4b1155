#include "ui/firmware_model.h"

#include "image/container.h"
#include "image/descrambler.h"
#include "image/model_tables.h"

namespace quorsel {

std::string FirmwareModelOf(const std::string& path) {
    if (path.empty()) return std::string();
    Descrambler descrambler;
    auto opened = OpenContainer(path, descrambler);
    if (!opened) return std::string();
    const int index = opened.value().modelIndex;
    if (index < 0 || index >= MODEL_COUNT) return std::string();
    return MODEL_CODES[index];
}

}  // namespace quorsel
