#include "app/shell/TypeList.h"

#include <QComboBox>

namespace grv {

void FillTypeList(QComboBox* list) {
    static const char* const kNames[] = {"Action", "Journal", "Medicine", "Mood", "Question", "Side Effects"};
    list->clear();
    int code = 1;
    for (const char* name : kNames)
        list->addItem(QString::fromLatin1(name), code++);
}

int SelectTypeByPrefix(QComboBox* list, const QString& text) {
    const int n = list->count();
    auto find = [&](const QString& prefix) {
        for (int k = 1; k <= n; ++k) {
            const int i = k % n;
            if (list->itemText(i).startsWith(prefix, Qt::CaseInsensitive))
                return i;
        }
        return -1;
    };
    int index = n > 0 ? find(text) : -1;
    if (index < 0 && text.compare(QLatin1String("Questions"), Qt::CaseInsensitive) == 0)
        index = find(QStringLiteral("Question"));
    list->setCurrentIndex(index);
    return index;
}

} // namespace grv
