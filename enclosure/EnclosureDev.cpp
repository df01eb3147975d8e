#include "enclosure/EnclosureDev.h"

namespace {

ENCLOSURE_DEV_CLASS*& ListHead() {
    static ENCLOSURE_DEV_CLASS* head = nullptr;
    return head;
}

} // namespace

ENCLOSURE_DEV_CLASS* GetEnclosureDevClassList() {
    return ListHead();
}

ENCLOSURE_DEV_CLASS_INIT::ENCLOSURE_DEV_CLASS_INIT(ENCLOSURE_DEV_CLASS* pEntry) {
    pEntry->pNext = ListHead();
    ListHead() = pEntry;
}
