#include "host/memory_stream.h"

#include <cstdint>

void MemoryStream::write(std::string_view bytes)
{
    if (position_ + bytes.size() > bytes_.size())
        bytes_.resize(position_ + bytes.size());
    bytes_.replace(position_, bytes.size(), bytes);
    position_ += bytes.size();
}

bool MemoryStream::read(size_t count, std::string &out)
{
    if (count > bytes_.size() - position_)
        return false;
    out.assign(bytes_, position_, count);
    position_ += count;
    return true;
}

bool MemoryStream::writeFramed(std::string_view bytes)
{
    if (bytes.size() > UINT32_MAX)
        return false;
    auto count = static_cast<uint32_t>(bytes.size());
    char prefix[4];
    for (int i = 0; i < 4; ++i)
        prefix[i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    write(std::string_view(prefix, 4));
    write(bytes);
    return true;
}

bool MemoryStream::readFramed(std::string &out)
{
    size_t start = position_;
    std::string prefix;
    if (!read(4, prefix))
        return false;
    uint32_t count = 0;
    for (int i = 0; i < 4; ++i)
        count |= static_cast<uint32_t>(static_cast<unsigned char>(prefix[i])) << (8 * i);
    if (!read(count, out)) {
        position_ = start;
        return false;
    }
    return true;
}
