#include "CPortCtl.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>
#include <stdexcept>

// The combo box's own items, seen as the selector's text list.
class TComComboBox::ItemList : public TStrings {
public:
    explicit ItemList(QComboBox& box) : box_(box) {}

    int Count() const override { return box_.count(); }
    std::string Get(int index) const override {
        if (index < 0 || index >= box_.count()) throw std::out_of_range("item index");
        return box_.itemText(index).toLocal8Bit().toStdString();
    }
    void Clear() override { box_.clear(); }
    void Add(const std::string& text) override { box_.addItem(QString::fromLocal8Bit(text)); }
    void Assign(const std::vector<std::string>& texts) override {
        QStringList list;
        list.reserve(static_cast<qsizetype>(texts.size()));
        for (const std::string& t : texts) list.append(QString::fromLocal8Bit(t));
        box_.clear();
        box_.addItems(list);
    }

private:
    QComboBox& box_;
};

TComComboBox::TComComboBox(TComponent* owner, QWidget* parent)
    : QComboBox(parent),
      TComponent(owner),
      select_(std::make_unique<TComSelect>()),
      items_(std::make_unique<ItemList>(*this)) {
    select_->SetItems(items_.get());
    // A drop-down list: the operator picks, never types.
    setEditable(false);
    // `activated` comes only from the operator, never from a selection made by program.
    activated_ = connect(this, &QComboBox::activated, this,
                         [this](int) { framework::Guarded([this] { Change(); }); });
    tipFollows_ = connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QString whole = index >= 0 && ComProperty() == cpPort ? itemText(index) : QString();
        setToolTip(whole == ShortText(whole) ? QString() : whole);
    });
}

QString TComComboBox::ShortText(const QString& text) const {
    if (ComProperty() != cpPort) return text;
    return QString::fromLocal8Bit(ShortPortName(text.toLocal8Bit().toStdString()));
}

void TComComboBox::MarkLongNames() {
    if (ComProperty() != cpPort) return;
    for (int i = 0; i < count(); ++i) {
        const QString whole = itemText(i);
        setItemData(i, whole == ShortText(whole) ? QVariant() : QVariant(whole), Qt::ToolTipRole);
    }
}

void TComComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (currentIndex() >= 0) option.currentText = ShortText(option.currentText);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

TComComboBox::~TComComboBox() {
    disconnect(activated_);
    disconnect(tipFollows_);
    if (TCustomComPort* port = select_->ComPort()) {
        RemoveFreeNotification(port);
        select_->SetComPort(nullptr);
    }
    // Listeners hear of our removal while the combo box part is still whole.
    DestroyComponent();
}

void TComComboBox::SetComPort(TCustomComPort* port) {
    TCustomComPort* old = select_->ComPort();
    if (port == old) return;
    if (old) RemoveFreeNotification(old);
    select_->SetComPort(port);
    if (!port) return;
    FreeNotification(port);
    SetItemIndex(select_->LocateCurrent());
}

void TComComboBox::SetComProperty(TComProperty kind) {
    select_->SetPropertyKind(kind);
    MarkLongNames();
    // Filling an empty combo box selects its first entry by itself; what is selected is
    // decided here alone.
    setCurrentIndex(-1);
    if (items_->Count() == 0) return;
    SetItemIndex(select_->ComPort() ? select_->LocateCurrent() : 0);
}

std::string TComComboBox::Text() const {
    if (currentIndex() < 0) return {};
    return currentText().toLocal8Bit().toStdString();
}

void TComComboBox::SetText(const std::string& text) {
    const int index = items_->IndexOfText(text);
    if (index >= 0) SetItemIndex(index);
}

void TComComboBox::SetItemIndex(int index) {
    if (IsLoading()) {
        loadedIndex_ = index;
        return;
    }
    setCurrentIndex(index);
}

TStrings& TComComboBox::Items() { return *items_; }

void TComComboBox::Loaded() {
    TComponent::Loaded();
    const int index = loadedIndex_;
    loadedIndex_ = -1;
    if (index != -1) setCurrentIndex(index);
}

void TComComboBox::showPopup() {
    if (select_->PropertyKind() == cpPort) {
        framework::Guarded([this] {
            const bool hadChoice = currentIndex() >= 0;
            const std::string shown = Text();
            TStringList fresh;
            ListSerialPorts(fresh);
            const std::vector<std::string> now = fresh.ToVector();
            if (now == items_->ToVector()) return;
            // Refilling selects nothing by itself; only the shown entry is selected again.
            items_->Assign(now);
            MarkLongNames();
            setCurrentIndex(hadChoice ? items_->IndexOfText(shown) : -1);
        });
        // Wide enough for the longest entry, never narrower than the box.
        QAbstractItemView* list = view();
        const int margins = list->frameWidth() * 2 + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        list->setMinimumWidth(std::max(width(), list->sizeHintForColumn(0) + margins));
    }
    QComboBox::showPopup();
}

void TComComboBox::Change() {
    select_->TakeChoice(Text());
    if (OnChange) OnChange(this);
}

void TComComboBox::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    TCustomComPort* port = select_->ComPort();
    if (operation == TOperation::opRemove && port &&
        component == static_cast<TComponent*>(port)) {
        select_->SetComPort(nullptr);
        if (items_->Count() > 0) SetItemIndex(0);
    }
}
