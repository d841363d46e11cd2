#include "web/exchange_record.h"

#include "host/memory_stream.h"

#include <cstdint>

bool writeRecord(MemoryStream &stream, const ExchangeRecord &record)
{
    for (const std::string &slot : record.slots) {
        if (slot.size() > UINT32_MAX)
            return false; // checked first, so a failed write leaves no half record
    }
    stream.seekToStart();
    for (const std::string &slot : record.slots)
        stream.writeFramed(slot);
    return true;
}

bool readRecord(MemoryStream &stream, ExchangeRecord &record)
{
    stream.seekToStart();
    ExchangeRecord read;
    for (std::string &slot : read.slots) {
        if (!stream.readFramed(slot))
            return false;
    }
    record = std::move(read);
    return true;
}

std::string slotText(const std::string &slot)
{
    return slot.substr(0, slot.find('\0'));
}
