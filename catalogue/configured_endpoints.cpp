#include "configured_endpoints.h"

namespace lumora {

const EndpointTable &ConfiguredEndpoints::table()
{
    if (!m_table) {
        QString used;
        m_table = EndpointTable::loadConfigured(nullptr, &used);
        if (used.isEmpty())
            qCInfo(lcEndpoints, "no lumora/endpoints.conf in the config locations: "
                                "no station has an address");
        else
            qCInfo(lcEndpoints, "endpoints from %s: %d keys", qUtf8Printable(used),
                   m_table->size());
    }
    return *m_table;
}

} // namespace lumora
