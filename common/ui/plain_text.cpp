#include "plain_text.h"

#include <QLabel>

void showTextPlainly(QWidget* root)
{
    if (auto* label = qobject_cast<QLabel*>(root))
        label->setTextFormat(Qt::PlainText);
    for (QLabel* label : root->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}
