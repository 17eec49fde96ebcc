#pragma once

#include "endpoint_table.h"

#include <optional>

namespace lumora {

// The endpoint configuration of this run: read from the config locations at the first
// request and kept from then on. Start-up therefore reads nothing.
class ConfiguredEndpoints {
public:
    const EndpointTable &table();
    bool loaded() const { return m_table.has_value(); }

private:
    std::optional<EndpointTable> m_table;
};

} // namespace lumora
