#include "settings_encoder.h"

namespace trellikon {

bool EncodeResult::closesTextsEditor() const {
    for (const auto& r : refusals)
        if (r.closes_texts_editor)
            return true;
    return false;
}

EncodeResult Encode_Settings(const EditorSnapshot&, DeviceSettings&) { return {}; }

EncodeResult Encode_Texts(const std::array<std::string, layout::kTextSlotCount>&,
                          SettingsImage&) {
    return {};
}

} // namespace trellikon
