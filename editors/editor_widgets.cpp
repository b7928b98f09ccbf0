#include "editor_widgets.h"

#include "cp1250.h"
#include "entry_rules.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPalette>
#include <QStyle>
#include <QVBoxLayout>
#include <QValidator>

namespace {

constexpr int kButtonSide = 48;

// Replaces every character that Windows-1250 cannot hold by "?". QLineEdit
// runs this for typed, pasted and programmatic text alike and takes the
// corrected text, so such a character never stands in the edit.
class Cp1250Validator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        QString out;
        out.reserve(input.size());
        int newPos = pos;
        for (int i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            char32_t cp = c.unicode();
            int width = 1;
            if (c.isHighSurrogate() && i + 1 < input.size() && input.at(i + 1).isLowSurrogate()) {
                cp = QChar::surrogateToUcs4(c, input.at(i + 1));
                width = 2;
            }
            const bool storable = !c.isSurrogate() && trellikon::unicodeToCp1250(cp).has_value();
            if (storable) {
                out += c;
            } else {
                out += QLatin1Char('?');
                if (i < pos)
                    newPos -= width - 1;
            }
            i += width - 1;
        }
        if (out != input) {
            input = out;
            pos = newPos;
        }
        return Acceptable;
    }
};

} // namespace

RadioGroup::RadioGroup(const char* objectName, const QString& title, const QStringList& items,
                       int columns, QWidget* parent)
    : QGroupBox(title, parent), buttons_(new QButtonGroup(this)) {
    setObjectName(QString::fromLatin1(objectName));
    setAccessibleName(title);
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(4);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setObjectName(QStringLiteral("%1_%2").arg(QString::fromLatin1(objectName)).arg(i));
        b->setAccessibleName(items[i]);
        buttons_->addButton(b, i);
        grid->addWidget(b, i / columns, i % columns);
    }
    grid->setColumnStretch(columns, 1);
    connect(buttons_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            Q_EMIT itemIndexChanged(id);
    });
}

int RadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
    if (index == ItemIndex())
        return;
    if (QAbstractButton* b = buttons_->button(index)) {
        b->setChecked(true);
        return;
    }
    // Nothing selected: an exclusive group cannot uncheck its last button.
    if (QAbstractButton* checked = buttons_->checkedButton()) {
        buttons_->setExclusive(false);
        checked->setChecked(false);
        buttons_->setExclusive(true);
    }
}

QRadioButton* RadioGroup::item(int index) const {
    return qobject_cast<QRadioButton*>(buttons_->button(index));
}

QGroupBox* titledGroup(const char* objectName, const QString& title, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setAccessibleName(title);
    return box;
}

QLineEdit* deviceEdit(const char* objectName, const QString& accessibleName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setAccessibleName(accessibleName);
    edit->setValidator(new Cp1250Validator(edit));
    return edit;
}

QColor switchedOffColour() {
    return QColor(0xC8, 0xC8, 0xC8);
}

void switchEdit(QLineEdit* edit, bool on) {
    edit->setEnabled(on);
    QPalette pal = edit->palette();
    const QColor base =
        on ? edit->style()->standardPalette().color(QPalette::Active, QPalette::Base)
           : switchedOffColour();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, base);
    edit->setPalette(pal);
}

CommandButton commandButton(const char* objectName, CommandPicture picture,
                            const QStringList& labelLines, QWidget* parent) {
    auto* button = new QToolButton(parent);
    QString spoken;
    for (const QString& line : labelLines)
        spoken += line.trimmed() + QLatin1Char(' ');
    spoken = spoken.trimmed();
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAccessibleName(spoken);
    button->setToolTip(spoken);
    button->setIcon(commandIcon(picture));
    button->setIconSize(QSize(kButtonSide - 8, kButtonSide - 8));
    button->setFixedSize(kButtonSide, kButtonSide);
    button->setFocusPolicy(Qt::StrongFocus);
    auto* label = new QLabel(labelLines.join(QLatin1Char('\n')), parent);
    label->setObjectName(QStringLiteral("%1Label").arg(QString::fromLatin1(objectName)));
    return {button, label};
}

CommandRow::CommandRow(QWidget* window) : window_(window), row_(new QHBoxLayout) {
    row_->setSpacing(8);
}

QToolButton* CommandRow::add(const char* objectName, CommandPicture picture,
                             const QStringList& labelLines) {
    const CommandButton c = commandButton(objectName, picture, labelLines, window_);
    if (row_->count() > 0)
        row_->addSpacing(14);
    row_->addWidget(c.button);
    row_->addWidget(c.label);
    return c.button;
}

QHBoxLayout* CommandRow::finish() {
    row_->addStretch(1);
    return row_;
}

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    if (buddy->accessibleName().isEmpty())
        buddy->setAccessibleName(text.trimmed());
    return label;
}

std::string toDevice(const QString& text) {
    // The edits' validator has put "?" in place of anything without a
    // Windows-1250 form already; text that bypassed it is treated the same.
    const QByteArray utf8 = text.toUtf8();
    return trellikon::utf8ToCp1250Replacing(
        std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

QString fromDevice(const std::string& bytes) {
    const std::string shown = bytes.substr(0, bytes.find('\0'));
    return QString::fromStdString(trellikon::cp1250ToUtf8(shown));
}

void putBack(QLineEdit* edit, const trellikon::rules::EntryVerdict& verdict) {
    if (!verdict.put_back)
        return;
    if (verdict.put_back->empty())
        edit->clear();
    else
        edit->setText(fromDevice(*verdict.put_back));
}
