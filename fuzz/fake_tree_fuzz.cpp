// The fake server's tree loader. A tree that loads is also served: one
// connection opens and closes on it.
#include "fake/fake.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = fuzz_text(data, size);
    int rc = vnb_fake_load(text.get());
    FUZZ_CHECK(rc == 0 || rc == -1);
    FUZZ_CHECK(vnb_fake_loaded() == (rc == 0 ? 1 : 0));
    if (rc == 0) {
        FakeConnection *c = vnb_fake_open();
        FUZZ_CHECK(c != nullptr);
        vnb_fake_close(c);
    }
    return 0;
}
