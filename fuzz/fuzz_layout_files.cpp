// Layout files and blocks from outside: a .GFD text, Grid.QVE, the player's
// list of layouts and a window block taken from the clipboard.
#include "fuzz_bytes.h"

#include "core/layout/image_manage.h"
#include "core/layout/layout_commands.h"
#include "core/layout/layout_transfer.h"
#include "core/layout/view_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static CImageManage model(QStringLiteral("/nonexistent/veluna-fuzz-material"));
    const QByteArray in = fuzzbytes::bytes(data, size);
    (void)model.LoadLayout(in);
    layout::ViewSettings view;
    (void)layout::ReadGridSettings(in, view);
    (void)layout::SplitLayoutList(in);
    layout::WindowClip clip;
    if (layout::UnpackWindowClip(in, clip))
        (void)layout::PasteClip(model, clip);
    return 0;
}
