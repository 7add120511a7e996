#include "vantelkit/routing/ControlActionFunction.h"

#include <gtest/gtest.h>

#include "vantelkit/platform/ViewController.h"

namespace vantelkit {
namespace {

class Button final : public Control, public ControlActionFunctionProtocol<Button> {
 public:
  std::string label;
};

class Slider final : public Control, public ControlActionFunctionProtocol<Slider> {};

class OtherTarget final : public ActionTarget {
 public:
  bool performAction(std::string_view, Control&) override { return ++calls, true; }
  int calls = 0;
};

TEST(ControlActionFunctionTest, TheCallbackRunsWhenTheHostFiresTheAction) {
  Button button;
  int calls = 0;
  Button* sender = nullptr;
  button.setActionCallback([&](Button& control) {
    ++calls;
    sender = &control;
  });
  EXPECT_EQ(button.action(), "performActionWithSender:");
  EXPECT_TRUE(button.sendAction());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sender, &button);

  auto callback = button.actionCallback();
  ASSERT_TRUE(callback);
  callback(button);
  EXPECT_EQ(calls, 2);

  // A later set replaces the callback.
  int replaced = 0;
  button.setActionCallback([&](Button&) { ++replaced; });
  button.sendAction();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(replaced, 1);
}

TEST(ControlActionFunctionTest, RemovingTheCallbackDropsTheTrampolineOnly) {
  Button button;
  button.setActionCallback([](Button&) {});
  button.setActionCallback(nullptr);
  EXPECT_FALSE(button.actionCallback());
  EXPECT_EQ(button.action(), "performActionWithSender:");
  EXPECT_FALSE(button.target());  // nothing owned the trampoline but the control
  EXPECT_FALSE(button.sendAction());
}

TEST(ControlActionFunctionTest, ATargetSetByOtherMeansGivesNoCallback) {
  Button button;
  auto target = std::make_shared<OtherTarget>();
  button.setTarget(target);
  button.setAction("press:");
  EXPECT_FALSE(button.actionCallback());
  EXPECT_TRUE(button.sendAction());
  EXPECT_EQ(target->calls, 1);

  // A trampoline made for another control type is not this type's callback.
  Slider slider;
  slider.setActionCallback([](Slider&) {});
  auto trampoline = slider.attachments().get(actionTrampolineKey());
  button.attachments().set(actionTrampolineKey(), trampoline);
  EXPECT_FALSE(button.actionCallback());
}

TEST(ControlActionFunctionTest, SetupConfiguresInline) {
  Button button;
  Button& same = button.setup([](Button& control) { control.label = "OK"; });
  EXPECT_EQ(&same, &button);
  EXPECT_EQ(button.label, "OK");
}

TEST(ControlActionFunctionTest, AttachmentsOwnWhatTheyHoldUntilReplaced) {
  class Flag final : public Attachment {
   public:
    explicit Flag(bool& destroyed) : _destroyed(destroyed) {}
    ~Flag() override { _destroyed = true; }

   private:
    bool& _destroyed;
  };
  static const AttachmentKey key;
  static const AttachmentKey otherKey;
  bool destroyed = false;
  {
    ViewController owner;
    owner.attachments().set(key, std::make_shared<Flag>(destroyed));
    EXPECT_FALSE(owner.attachments().get(otherKey));
    EXPECT_TRUE(owner.attachments().get(key));
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);

  destroyed = false;
  ViewController owner;
  owner.attachments().set(key, std::make_shared<Flag>(destroyed));
  owner.attachments().remove(key);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(owner.attachments().get(key));
}

}  // namespace
}  // namespace vantelkit
