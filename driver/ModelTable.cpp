#include "runtime/session/ModelTable.h"

#include "driver/Identity.h"

namespace drt {

const ModelFamilyTable& ModelTable() {
    static const ModelFamilyTable table = BuildModelTable({
        {tarvek::kFamily6310, "TK6310"},
        {tarvek::kFamily6510, "TK6510"},
    });
    return table;
}

}  // namespace drt
