// The readings of a status in DOS form and in NT form: the ResultCode, the
// name, and which NT status a DOS code stands for. The input is read as
// 32-bit statuses, little-endian, each tried in both forms.
#include "fuzz_input.h"
#include "sess/smb_header.h"
#include "util/smb1_wire.h"
#include "util/status.h"

namespace {

constexpr uint32_t kMeanings[] = {STATUS_SUCCESS,
                                  STATUS_BUFFER_OVERFLOW,
                                  STATUS_NO_MORE_FILES,
                                  STATUS_END_OF_FILE,
                                  STATUS_MORE_PROCESSING_REQUIRED,
                                  smb::kStatusNoSuchFile,
                                  STATUS_OBJECT_NAME_NOT_FOUND,
                                  STATUS_ACCESS_DENIED,
                                  STATUS_LOGON_FAILURE};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (size_t at = 0; at + 4 <= size; at += 4) {
        uint32_t status = data[at] | (uint32_t{data[at + 1]} << 8) | (uint32_t{data[at + 2]} << 16) |
                          (uint32_t{data[at + 3]} << 24);
        const char *name = vnb_status_name(status);
        FUZZ_CHECK(name != nullptr && name[0] != '\0');
        for (int is_nt : {0, 1}) {
            int32_t code = vnb_status_code(status, is_nt);
            FUZZ_CHECK(code <= 0 && code >= -11);
            ParsedHeader h{};
            h.status = status;
            h.status_is_nt = is_nt;
            bool fails = hdr_status_fails(h);
            FUZZ_CHECK(!fails || status != 0);
            FUZZ_CHECK(is_nt || !fails || code < 0);
            for (uint32_t nt : kMeanings) {
                bool means = hdr_status_means(h, nt);
                // A DOS code that stands for an NT status maps like it.
                if (means && !is_nt && nt != smb::kStatusNoSuchFile)
                    FUZZ_CHECK(code == st_map_nt(nt));
                if (means && is_nt)
                    FUZZ_CHECK(status == nt);
            }
        }
        // Every DOS form the server side writes reads back as its meaning.
        uint32_t dos = smb::dos_form(status);
        FUZZ_CHECK(smb::status_means(dos, false, status) || smb::dos_equivalent(status) == 0);
    }
    return 0;
}
