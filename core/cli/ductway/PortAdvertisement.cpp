#include "core/cli/ductway/PortAdvertisement.h"

namespace orvela::ductway {

HandleRegistry<MappingRecord>& mappingRegistry() {
    static HandleRegistry<MappingRecord> registry;
    return registry;
}

HandleRegistry<ViewRecord>& viewRegistry() {
    static HandleRegistry<ViewRecord> registry;
    return registry;
}

}  // namespace orvela::ductway
