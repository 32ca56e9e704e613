// The engine boundary: errors become statuses, holders drop what they own.
#include <gtest/gtest.h>

#include "pdf/engine.h"

namespace qm {
namespace {

TEST(EngineBoundary, ErrorsBecomeStatusesAndWorkGoesThroughOtherwise) {
    fz_context *ctx = EngineContext();

    int reached = 0;
    EngineStatus ok = EngineTry(ctx, [&](fz_context *) { reached = 1; });
    EXPECT_TRUE(ok.Ok());
    EXPECT_TRUE(ok.message.empty());
    EXPECT_EQ(reached, 1);

    EngineStatus failed = EngineTry(ctx, [&](fz_context *c) {
        fz_throw(c, FZ_ERROR_GENERIC, "broken %s", "xref");
        reached = 2;  // never runs
    });
    EXPECT_FALSE(failed.Ok());
    EXPECT_FALSE(failed.Aborted());
    EXPECT_EQ(failed.message, "broken xref");
    EXPECT_EQ(reached, 1);

    EngineStatus aborted = EngineTry(ctx, [](fz_context *c) { fz_throw(c, FZ_ERROR_ABORT, "stopped"); });
    EXPECT_TRUE(aborted.Aborted());

    // The context's own try stack is balanced again: a nested use still works.
    EngineStatus nested = EngineTry(ctx, [&](fz_context *c) {
        EngineStatus inner = EngineTry(c, [](fz_context *c2) { fz_throw(c2, FZ_ERROR_GENERIC, "inner"); });
        (void)inner;
    });
    EXPECT_TRUE(nested.Ok());
}

TEST(EngineBoundary, HoldersKeepAndDropReferences) {
    fz_context *ctx = EngineContext();
    EngineRef<fz_buffer> buffer;
    EngineStatus status = EngineTry(ctx, [&](fz_context *c) { buffer.reset(fz_new_buffer(c, 16)); });
    ASSERT_TRUE(status.Ok());
    ASSERT_TRUE(buffer);
    // A second reference kept through the engine outlives the first holder.
    EngineRef<fz_buffer> second = Adopt(fz_keep_buffer(ctx, buffer.get()));
    buffer.reset();
    EXPECT_EQ(fz_buffer_storage(ctx, second.get(), nullptr), 0u);
    // A failed allocation leaves the holder empty and the status failed (the sanitizer build
    // also checks that nothing leaks on either path).
    EngineRef<fz_pixmap> huge;
    status = EngineTry(ctx, [&](fz_context *c) {
        huge.reset(fz_new_pixmap(c, fz_device_rgb(c), 1 << 30, 1 << 30, nullptr, 1));
    });
    EXPECT_FALSE(status.Ok());
    EXPECT_FALSE(huge);
}

} // namespace
} // namespace qm
