#include "tools/apsim/flash_store.h"

#include "image/container.h"
#include "image/model_tables.h"

namespace quorsel::apsim {

uint32_t FlashSizeOf(std::string_view modelCode) {
    if (modelCode.size() == MODEL_CODE_LENGTH) {
        int index = FindModel(reinterpret_cast<const uint8_t*>(modelCode.data()));
        if (index >= 0) {
            const Region& last = RegionTableOf(index).back();
            return last.start + last.length;
        }
    }
    return IMAGE_SIZE_4MIB;
}

}  // namespace quorsel::apsim
