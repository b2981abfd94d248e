#pragma once
// Component model: named objects with an owner that destroys what it owns, loading and design
// state, and free notification so a component hears when one it refers to goes away.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Root of the object model: anything that can be the Sender of an event.
class TObject {
public:
    virtual ~TObject() = default;
    virtual const char* ClassName() const { return "TObject"; }
};

// Objects whose settings can be copied from another object of a compatible class.
class TPersistent : public TObject {
public:
    const char* ClassName() const override { return "TPersistent"; }
};

// The plain event handler: told which object raised the event.
using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;
    const char* ClassName() const override { return "TComponent"; }
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TComponent* Owner() const { return owner_; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }

    bool IsLoading() const { return (state_ & kLoading) != 0; }
    bool IsDesigning() const { return (state_ & kDesigning) != 0; }
    bool IsDestroying() const { return (state_ & kDestroying) != 0; }

    // Marks the component (and what it owns) as being loaded from a design description;
    // setters then only record values until Loaded runs.
    void BeginLoading();
    void SetDesigning(bool on);

    // The after-load step: clears the loading state. Overrides apply what was recorded and
    // must call the base first.
    virtual void Loaded();

    // Asks `other` to tell this component (through Notification) when it is destroyed.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

protected:
    // Told when a component this one watches (or owns, or shares an owner with) is inserted
    // or removed. Overrides must call the base.
    virtual void Notification(TComponent* component, TOperation operation);

    // Broadcasts this component's removal and destroys what it owns. Runs once: a class whose
    // members listeners may still need during the broadcast calls it from its own destructor
    // while those members are alive; otherwise the base destructor runs it.
    void DestroyComponent();

private:
    enum : std::uint8_t { kLoading = 1, kDesigning = 2, kDestroying = 4 };

    void Insert(TComponent* component);
    void Remove(TComponent* component);
    void DestroyOwned();

    std::string name_;
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;     // owned, in insertion order
    std::vector<TComponent*> freeNotifies_;   // components to tell when this one goes
    std::uint8_t state_ = 0;
    bool destroyed_ = false;
};
