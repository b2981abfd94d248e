#include "Component.h"

#include <algorithm>

namespace {
void Erase(std::vector<TComponent*>& list, TComponent* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
bool Contains(const std::vector<TComponent*>& list, const TComponent* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}
}  // namespace

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->Insert(this);
}

TComponent::~TComponent() { DestroyComponent(); }

void TComponent::DestroyComponent() {
    if (destroyed_) return;
    destroyed_ = true;
    state_ |= kDestroying;
    // Tell every watcher first; each drops its references to us (and may detach from us,
    // which is why derived members are still alive here when the derived class calls this).
    while (!freeNotifies_.empty()) {
        TComponent* watcher = freeNotifies_.back();
        freeNotifies_.pop_back();
        Erase(watcher->freeNotifies_, this);
        watcher->Notification(this, TOperation::opRemove);
    }
    DestroyOwned();
    if (owner_) owner_->Remove(this);
}

void TComponent::DestroyOwned() {
    // Last created, first destroyed; each one takes itself off our list as it goes.
    while (!components_.empty()) {
        TComponent* child = components_.back();
        delete child;
        Erase(components_, child);  // in case its destructor did not get that far
    }
}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
    if (IsLoading()) component->state_ |= kLoading;
    Notification(component, TOperation::opInsert);
}

void TComponent::Remove(TComponent* component) {
    Erase(components_, component);
    component->owner_ = nullptr;
    Notification(component, TOperation::opRemove);
}

void TComponent::BeginLoading() {
    state_ |= kLoading;
    for (TComponent* child : components_) child->BeginLoading();
}

void TComponent::SetDesigning(bool on) {
    if (on)
        state_ |= kDesigning;
    else
        state_ &= static_cast<std::uint8_t>(~kDesigning);
}

void TComponent::Loaded() { state_ &= static_cast<std::uint8_t>(~kLoading); }

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    // Both sides remember the pair, so whichever goes first tells the other.
    if (!Contains(other->freeNotifies_, this)) other->freeNotifies_.push_back(this);
    if (!Contains(freeNotifies_, other)) freeNotifies_.push_back(other);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    Erase(other->freeNotifies_, this);
    Erase(freeNotifies_, other);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove && component) RemoveFreeNotification(component);
    // An owner passes the news on to everything it owns, so siblings hear of each other.
    const auto children = components_;
    for (TComponent* child : children)
        if (child != component && Contains(components_, child))
            child->Notification(component, operation);
}
