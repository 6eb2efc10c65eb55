#include "platform/data_sources.h"

namespace tovrik {

std::unique_ptr<DataSourceRegistry> MakeSystemDataSourceRegistry() { return nullptr; }

}  // namespace tovrik
