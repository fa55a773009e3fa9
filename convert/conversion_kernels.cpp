#include "convert/conversion_kernels.h"

ToBgraKernel SelectToBgra(const ConversionPlan& plan, KernelChoice choice) {
    switch (plan.layout.family) {
        case LayoutFamily::PlanarYuv:
            return SelectYuvToBgra(plan, choice);
        case LayoutFamily::Gray:
            return SelectGrayToBgra(plan, choice);
        case LayoutFamily::PlanarGbr:
        case LayoutFamily::PackedRgb:
            break;
    }
    return SelectRgbToBgra(plan, choice);
}

FromBgraKernel SelectFromBgra(const ConversionPlan& plan, KernelChoice choice) {
    switch (plan.layout.family) {
        case LayoutFamily::PlanarYuv:
            return SelectBgraToYuv(plan, choice);
        case LayoutFamily::Gray:
            return SelectBgraToGray(plan);
        case LayoutFamily::PlanarGbr:
        case LayoutFamily::PackedRgb:
            break;
    }
    return SelectBgraToRgb(plan);
}
