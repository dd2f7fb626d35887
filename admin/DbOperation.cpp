#include "admin/DbOperation.h"

#include "store/DbError.h"
#include "store/MessageBoxes.h"

void DbOperation(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const DbError &error) {
        MsgBox(error.text(), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
    }
}
