#pragma once
// Every text a window shows may come from a file name, a file's contents or an edit
// box, so no label of ours ever interprets it as markup.

class QWidget;

// Sets plain-text format on every label below root (root included).
void showTextPlainly(QWidget* root);
