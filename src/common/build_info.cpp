#include "common/build_info.h"

namespace tovrik {

std::string VersionText(std::string_view program) {
    std::string text(program);
    text.append(" ").append(ProgramVersion()).append("\n");
    text.append("ビルド日: ").append(BuildDate()).append("\n");
    return text;
}

}  // namespace tovrik
