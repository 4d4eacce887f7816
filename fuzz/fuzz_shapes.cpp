// CustomShapesPoint.QVE and CustomShapesPointNew.QVE, in both format states,
// then the outline payload of what was taken.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static auto model = fuzzsupport::pageModel();
    static const QByteArray soundOld = model->ShapeBytes();
    static const QByteArray soundNew = [] {
        model->newShapeFormat = true;
        const QByteArray b = model->ShapeBytes();
        model->newShapeFormat = false;
        return b;
    }();
    // The last byte chooses the format state and the sound file to edit.
    const bool newFormat = size > 0 && (data[size - 1] & 1);
    model->newShapeFormat = newFormat;
    const QByteArray file = fuzzsupport::patched(newFormat ? soundNew : soundOld, data, size > 0 ? size - 1 : 0);
    if (model->ApplyShapeBytes(file) == calib::FileLoad::Loaded) {
        model->shapeMode = true;
        model->ActivateShapePoints();
        model->InterpolateShape();
        (void)model->BuildShapePayload();
        model->shapeMode = false;
    }
    return 0;
}
