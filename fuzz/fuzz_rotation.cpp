// Rotate.QVE and monitors.json.
#include "fuzz_bytes.h"

#include "rotation/rotate_documents.h"
#include "rotation/rotate_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    rotation::RotateModel model;
    if (rotation::ParseRotateConfig(in, model))
        (void)rotation::WriteRotateConfig(model);
    std::vector<rotation::OutputDevice> monitors;
    if (rotation::ParseMonitorList(in, monitors))
        (void)rotation::WriteMonitorList(monitors);
    return 0;
}
