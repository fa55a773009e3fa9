// Asking the host's preview to show the current frame again.
#pragma once

#include "filter/filter_data.h"

// Without a preview interface (the host offers none) there is nothing to do.
inline void RedrawPreview(const FilterData& record) {
    if (record.preview != nullptr) {
        record.preview->methods->RedoFrame(record.preview);
    }
}
