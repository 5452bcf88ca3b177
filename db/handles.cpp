#include "db/handles.h"

#include <algorithm>

namespace db::detail {


std::string readBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD id) {
    Blob blob(client);
    ISC_STATUS_ARRAY st{};
    client->open_blob2(st, db, tr, blob.ptr(), &id, 0, nullptr);
    client->check(st);

    // No isc_blob_info for the length first: through a server that is one
    // more round trip per document, which costs more than letting the text grow.
    std::string out;
    char buf[65535];
    for (;;) {
        unsigned short got = 0;
        ISC_STATUS rc = client->get_segment(st, blob.ptr(), &got, sizeof buf, buf);
        if (rc == 0 || rc == isc_segment) {  // whole segment, or part of a longer one
            out.append(buf, got);
            continue;
        }
        if (rc == isc_segstr_eof) break;
        client->check(st);
        break;
    }
    blob.close();
    return out;
}

ISC_QUAD writeBlob(const std::shared_ptr<FbClient>& client, isc_db_handle* db, isc_tr_handle* tr,
                   const std::string& bytes) {
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
