// Feeds arbitrary bytes to the endpoint configuration parser and checks what it keeps.

#include "catalogue/address.h"
#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

#include <QLoggingCategory>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("lumora.endpoints.warning=false"));
        return true;
    }();
    (void)quiet;

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<lumora::ConfigMessage> messages;
    const lumora::EndpointTable table = lumora::EndpointTable::parse(bytes, QStringLiteral("fuzz"), &messages);

    // Whatever the parser kept must be a valid value for a known key.
    for (const QString &key : lumora::EndpointTable::allKeys())
        if (const auto value = table.value(key); value && !lumora::EndpointTable::validate(key, *value).isEmpty())
            std::abort();
    for (const lumora::Station &s : lumora::allStations()) {
        const lumora::StationAddress a = lumora::addressOf(s, table);
        if (a.ok() == a.text.isEmpty())
            std::abort();
    }
    return 0;
}
