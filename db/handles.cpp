#include "db/handles.h"

#include <algorithm>

namespace db::detail {

namespace {
// Numbers in info buffers are little-endian, whatever the machine.
long long littleEndian(const char* p, int len)
{
    unsigned long long v = 0;
    for (int i = len - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    if (len > 0 && len < 8 && (static_cast<unsigned char>(p[len - 1]) & 0x80))
        v |= ~0ULL << (8 * len);  // sign-extend
    return static_cast<long long>(v);
}
}  // namespace

std::string readBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db,
                     isc_tr_handle* tr, ISC_QUAD id)
{
    Blob blob(client);
    ISC_STATUS_ARRAY st{};
    client->open_blob2(st, db, tr, blob.ptr(), &id, 0, nullptr);
    client->check(st);

    std::string out;
    // The total length lets one allocation hold the whole text.
    char item = isc_info_blob_total_length;
    char info[32];
    client->blob_info(st, blob.ptr(), 1, &item, sizeof info, info);
    if (!(st[0] == 1 && st[1]) && info[0] == isc_info_blob_total_length) {
        short len = static_cast<short>(littleEndian(info + 1, 2));
        if (len > 0 && len <= 8) {
            long long total = littleEndian(info + 3, len);
            if (total > 0)
                out.reserve(static_cast<size_t>(total));
        }
    }

    char buf[65535];
    for (;;) {
        unsigned short got = 0;
        ISC_STATUS rc = client->get_segment(st, blob.ptr(), &got, sizeof buf, buf);
        if (rc == 0 || rc == isc_segment) {  // whole segment, or part of a longer one
            out.append(buf, got);
            continue;
        }
        if (rc == isc_segstr_eof)
            break;
        client->check(st);
        break;
    }
    blob.close();
    return out;
}

ISC_QUAD writeBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db, isc_tr_handle* tr,
                   const std::string& bytes)
{
    Blob blob(client);
    ISC_QUAD id{};
    ISC_STATUS_ARRAY st{};
    client->create_blob2(st, db, tr, blob.ptr(), &id, 0, nullptr);
    client->check(st);
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t n = std::min<size_t>(bytes.size() - pos, 32768);
        client->put_segment(st, blob.ptr(), static_cast<unsigned short>(n), bytes.data() + pos);
        client->check(st);
        pos += n;
    }
    blob.close();
    return id;
}

}  // namespace db::detail
