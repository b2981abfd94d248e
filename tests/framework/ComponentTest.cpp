#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Component.h"

namespace {

// Records what it hears, and the order components go in.
struct Probe : TComponent {
    Probe(TComponent* owner, std::string name, std::vector<std::string>* log)
        : TComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    ~Probe() override { log_->push_back("~" + Name()); }

    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == TOperation::opRemove) {
            log_->push_back(Name() + " hears " + c->Name() + " go");
            if (c == watched) watched = nullptr;
        }
    }
    void Loaded() override {
        TComponent::Loaded();
        log_->push_back(Name() + " loaded");
    }

    TComponent* watched = nullptr;
    std::vector<std::string>* log_;
};

// Keeps a member that a watcher still needs while it hears of the removal.
struct WithMember : TComponent {
    explicit WithMember(std::vector<std::string>* log) : log_(log) { SetName("holder"); }
    ~WithMember() override {
        DestroyComponent();
        log_->push_back("member freed");
        member.clear();
    }
    std::vector<int> member{1, 2, 3};
    std::vector<std::string>* log_;
};

TEST(Component, OwnerDestroysWhatItOwnsLastFirst) {
    std::vector<std::string> log;
    auto* owner = new Probe(nullptr, "form", &log);
    new Probe(owner, "a", &log);
    new Probe(owner, "b", &log);
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete owner;
    // b goes first; a, still owned, hears of it through the owner. (Each "~" is logged by
    // the derived destructor, before the base part broadcasts.)
    const std::vector<std::string> expected = {"~form", "~b", "a hears b go", "~a"};
    EXPECT_EQ(log, expected);
}

TEST(Component, DeletingAnOwnedComponentTakesItOffTheOwnersList) {
    std::vector<std::string> log;
    Probe owner(nullptr, "form", &log);
    auto* a = new Probe(&owner, "a", &log);
    new Probe(&owner, "b", &log);
    delete a;
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0)->Name(), "b");
}

TEST(Component, FreeNotificationTellsTheWatcherOnceAndWorksEitherWay) {
    std::vector<std::string> log;
    Probe watcher(nullptr, "led", &log);
    {
        Probe port(nullptr, "port", &log);
        watcher.watched = &port;
        watcher.FreeNotification(&port);
        watcher.FreeNotification(&port);  // asking twice registers once
    }
    EXPECT_EQ(watcher.watched, nullptr);
    EXPECT_EQ(std::count(log.begin(), log.end(), "led hears port go"), 1);

    // The watcher going first leaves nothing dangling in the watched one.
    log.clear();
    auto* port = new Probe(nullptr, "port", &log);
    {
        Probe shortLived(nullptr, "temp", &log);
        shortLived.FreeNotification(port);
    }
    delete port;  // would touch the freed watcher if the pair were not forgotten
    EXPECT_EQ(std::count(log.begin(), log.end(), "temp hears port go"), 0);
}

TEST(Component, RemovedFreeNotificationIsNotCalled) {
    std::vector<std::string> log;
    Probe watcher(nullptr, "led", &log);
    {
        Probe port(nullptr, "port", &log);
        watcher.FreeNotification(&port);
        watcher.RemoveFreeNotification(&port);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "led hears port go"), 0);
}

TEST(Component, RemovalIsBroadcastWhileTheDerivedMembersAreAlive) {
    std::vector<std::string> log;
    auto* holder = new WithMember(&log);
    struct Reader : TComponent {
        WithMember* seen = nullptr;
        std::size_t sizeSeen = 0;
        void Notification(TComponent* c, TOperation op) override {
            TComponent::Notification(c, op);
            if (op == TOperation::opRemove && c == seen) sizeSeen = seen->member.size();
        }
    } reader;
    reader.seen = holder;
    reader.FreeNotification(holder);
    delete holder;
    EXPECT_EQ(reader.sizeSeen, 3u);
    EXPECT_EQ(log.back(), "member freed");
}

TEST(Component, LoadingStateReachesOwnedComponentsAndEndsWithTheAfterLoadStep) {
    std::vector<std::string> log;
    Probe form(nullptr, "form", &log);
    form.BeginLoading();
    auto* a = new Probe(&form, "a", &log);  // created while its owner loads
    EXPECT_TRUE(form.IsLoading());
    EXPECT_TRUE(a->IsLoading());
    a->Loaded();
    form.Loaded();
    EXPECT_FALSE(a->IsLoading());
    EXPECT_FALSE(form.IsLoading());
    EXPECT_EQ(log, (std::vector<std::string>{"a loaded", "form loaded"}));
}

TEST(Component, DestroyingStateIsSeenDuringTheBroadcast) {
    std::vector<std::string> log;
    struct Watcher : TComponent {
        bool destroyingSeen = false;
        void Notification(TComponent* c, TOperation op) override {
            TComponent::Notification(c, op);
            if (op == TOperation::opRemove) destroyingSeen = c->IsDestroying();
        }
    } watcher;
    {
        Probe port(nullptr, "port", &log);
        EXPECT_FALSE(port.IsDestroying());
        watcher.FreeNotification(&port);
    }
    EXPECT_TRUE(watcher.destroyingSeen);
}

}  // namespace
