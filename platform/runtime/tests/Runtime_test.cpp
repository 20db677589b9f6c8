#include "platform/runtime/Runtime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/testing/PlatformTest.h"

namespace platform::runtime {
namespace {

class RuntimeTest : public platform::testing::PlatformTest {};

// A small hierarchy registered at class-load time. The subclass's registrar runs first, so the
// runtime must resolve superclasses whatever order registrars run in.
class Animal : public RootObject {
 public:
  std::string className() const override { return "RTAnimal"; }
  std::string name = "animal";
  ObjectPtr toy;
  long legs = 4;
};

class Dog : public Animal {
 public:
  std::string className() const override { return "RTDog"; }
};

const ClassRegistrar kDogRegistrar("RTDog", "RTAnimal", sizeof(Dog), [](Class& c) {
  c.setFactory([] { return std::make_shared<Dog>(); });
  c.addInstanceMethod("speak", [](Object&) -> std::string { return "woof"; });
  c.addIvar(Ivar{"toy", "@", sizeof(ObjectPtr),
                 [](const Object& o) { return Value(static_cast<const Dog&>(o).toy); }});
  c.addIvar(Ivar{"legs", "q", sizeof(long),
                 [](const Object& o) { return Value(static_cast<const Dog&>(o).legs); }});
  c.addIvar(Ivar{"owner", "@", sizeof(ObjectPtr), [](const Object&) { return Value(); }});
  c.addIvar(Ivar{"nickname", "@", sizeof(ObjectPtr), [](const Object&) { return Value("rex"); }});
});

const ClassRegistrar kAnimalRegistrar("RTAnimal", kRootClassName, sizeof(Animal), [](Class& c) {
  c.setFactory([] { return std::make_shared<Animal>(); });
  c.addInstanceMethod("speak", [](Object&) -> std::string { return "..."; });
  c.addInstanceMethod("name",
                      [](Object& self) -> std::string { return static_cast<Animal&>(self).name; });
  c.addInstanceMethod("setName:", [](Object& self, const std::string& name) {
    static_cast<Animal&>(self).name = name;
  });
  c.addInstanceMethod("legsPlus:", [](Object& self, long n) -> long {
    return static_cast<Animal&>(self).legs + n;
  });
  c.addClassMethod("kingdom", [](Object&) -> std::string { return "animalia"; });
  c.addIvar(Ivar{"name", "@", sizeof(std::string),
                 [](const Object& o) { return Value(static_cast<const Animal&>(o).name); }});
  c.addProtocol("RTPet");
});

// Waits for a superclass that is only registered at run time.
const ClassRegistrar kLateChildRegistrar("RTLateChild", "RTLateParent", sizeof(RootObject),
                                         [](Class& c) {
                                           c.addInstanceMethod("late",
                                                               [](Object&) -> int { return 7; });
                                         });

const ProtocolRegistrar kPetRegistrar(
    "RTPet", {{"speak", "@@:", true, true}, {"fetch:", "v@:@", false, true}}, {"RTCreature"});
const ProtocolRegistrar kCreatureRegistrar("RTCreature", {{"breathe", "v@:", true, true}});

TEST_F(RuntimeTest, RegistrarsResolveSuperclassesWhateverTheirOrder) {
  Class* dog = classNamed("RTDog");
  Class* animal = classNamed("RTAnimal");
  ASSERT_NE(dog, nullptr);
  ASSERT_NE(animal, nullptr);
  EXPECT_EQ(dog->superclass(), animal);
  EXPECT_EQ(animal->superclass(), classNamed(kRootClassName));
  EXPECT_TRUE(dog->isRegistered());
  EXPECT_EQ(classGetInstanceSize(dog), sizeof(Dog));
  EXPECT_TRUE(classIsSubclassOf(dog, animal));
  EXPECT_FALSE(classIsSubclassOf(animal, dog));
  EXPECT_EQ(classNamed("RTNoSuchClass"), nullptr);
}

TEST_F(RuntimeTest, QueuedClassWaitsForItsSuperclassToBeRegistered) {
  EXPECT_EQ(classNamed("RTLateChild"), nullptr);
  Class* parent = registerClass("RTLateParent", kRootClassName, sizeof(RootObject), [](Class& c) {
    c.setFactory([] { return std::make_shared<RootObject>(); });
  });
  ASSERT_NE(parent, nullptr);
  Class* child = classNamed("RTLateChild");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->superclass(), parent);
  EXPECT_EQ(msgSend<int>(createInstance(child), "late"), 7);
}

TEST_F(RuntimeTest, MessageSendWalksSuperclassesAndPrefersOverrides) {
  auto dog = std::make_shared<Dog>();
  auto animal = std::make_shared<Animal>();
  EXPECT_EQ(objectGetClass(dog), classNamed("RTDog"));
  EXPECT_EQ(msgSend<std::string>(dog, "speak"), "woof");
  EXPECT_EQ(msgSend<std::string>(animal, "speak"), "...");
  // Inherited, with a string literal argument travelling as std::string.
  msgSend(dog, "setName:", "rex");
  EXPECT_EQ(dog->name, "rex");
  EXPECT_EQ(msgSend<std::string>(dog, "name"), "rex");
  EXPECT_EQ(msgSend<long>(dog, "legsPlus:", 2L), 6);
  // Class methods through the class object, inherited by the subclass's metaclass.
  EXPECT_EQ(msgSend<std::string>(classNamed("RTDog"), "kingdom"), "animalia");
  EXPECT_FALSE(respondsToSelector(classNamed("RTDog"), "speak"));
  EXPECT_TRUE(respondsToSelector(classNamed("RTDog"), "kingdom"));
}

TEST_F(RuntimeTest, MessageSendFailuresAreClearExceptions) {
  auto dog = std::make_shared<Dog>();
  try {
    msgSend(dog, "fly");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), kInvalidArgumentException);
    EXPECT_NE(e.reason().find("-[RTDog fly]: unrecognized selector sent to instance"),
              std::string::npos)
        << e.reason();
  }
  try {
    msgSend(classNamed("RTDog"), "fly");
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_NE(e.reason().find("+[RTDog fly]: unrecognized selector sent to class"),
              std::string::npos)
        << e.reason();
  }
  // Wrong result type and wrong argument type are both refused before the call.
  EXPECT_THROW(msgSend<long>(dog, "speak"), Exception);
  EXPECT_THROW(msgSend(dog, "legsPlus:", 2), Exception);  // int, not long
  EXPECT_EQ(dog->legs, 4);
  // A message to nil does nothing.
  Object* nothing = nullptr;
  EXPECT_EQ(msgSend<std::string>(nothing, "speak"), "");
  EXPECT_EQ(msgSend<long>(std::shared_ptr<Dog>(), "legsPlus:", 1L), 0);
}

TEST_F(RuntimeTest, ObjectPointersTravelAsObjectsAndArriveAsDeclared) {
  Class* cls = registerClass("RTKennel", kRootClassName, sizeof(RootObject), [](Class& c) {
    c.addInstanceMethod("admit:", [](Object&, std::shared_ptr<Dog> dog) -> std::shared_ptr<Dog> {
      if (dog) dog->name = "admitted";
      return dog;
    });
    c.addInstanceMethod("anything:", [](Object&, ObjectPtr o) -> bool { return o != nullptr; });
  });
  ASSERT_NE(cls, nullptr);
  auto kennel = createInstance(cls);
  auto dog = std::make_shared<Dog>();
  std::shared_ptr<Animal> asAnimal = dog;
  std::shared_ptr<const Dog> constDog = dog;

  EXPECT_EQ(msgSend<ObjectPtr>(kennel, "admit:", asAnimal), dog);
  EXPECT_EQ(dog->name, "admitted");
  EXPECT_EQ(msgSend<std::shared_ptr<Dog>>(kennel, "admit:", constDog), dog);
  EXPECT_EQ(msgSend<std::shared_ptr<Dog>>(kennel, "admit:", nullptr), nullptr);
  EXPECT_TRUE(msgSend<bool>(kennel, "anything:", dog));
  EXPECT_FALSE(msgSend<bool>(kennel, "anything:", nullptr));
  // An object of another class than the method declares is refused, not miscast.
  EXPECT_THROW(msgSend<ObjectPtr>(kennel, "admit:", std::make_shared<Animal>()), Exception);
  EXPECT_THROW(msgSend<std::shared_ptr<Dog>>(kennel, "anything:", dog), Exception);  // result
}

TEST_F(RuntimeTest, BlocksMayTakeSelfAsTheirOwnClass) {
  Class* animal = classNamed("RTAnimal");
  ASSERT_TRUE(classAddMethod(
      animal, "dogName", implementationWithBlock([](const Dog& self) { return self.name; }), ""));
  auto dog = std::make_shared<Dog>();
  dog->name = "fido";
  EXPECT_EQ(msgSend<std::string>(dog, "dogName"), "fido");
  // Sent to an object that is not of the block's class: refused, not miscast.
  EXPECT_THROW(msgSend<std::string>(std::make_shared<Animal>(), "dogName"), Exception);
}

TEST_F(RuntimeTest, ReplacedMethodIsWhatMessageSendCalls) {
  Class* dog = classNamed("RTDog");
  Class* animal = classNamed("RTAnimal");
  auto d = std::make_shared<Dog>();
  auto a = std::make_shared<Animal>();

  IMP original = classGetMethodImplementation(dog, "speak");
  ASSERT_NE(original, nullptr);
  IMP previous = classReplaceMethod(
      dog, "speak", implementationWithBlock([original](Object& self) -> std::string {
        return "loud " + original->call<std::string>(self);
      }),
      "@@:");
  EXPECT_EQ(previous, original);
  EXPECT_EQ(msgSend<std::string>(d, "speak"), "loud woof");

  // Replacing an inherited method adds an override to the subclass only.
  IMP inherited = classReplaceMethod(
      dog, "name", implementationWithBlock([](Object&) -> std::string { return "dog"; }), "");
  EXPECT_EQ(inherited, nullptr);
  EXPECT_EQ(msgSend<std::string>(d, "name"), "dog");
  EXPECT_EQ(msgSend<std::string>(a, "name"), "animal");

  // addMethod refuses a selector the class itself has, and accepts one it only inherits.
  auto block = implementationWithBlock([](Object&) -> std::string { return "x"; });
  EXPECT_FALSE(classAddMethod(dog, "speak", block, ""));
  EXPECT_TRUE(classAddMethod(dog, "legsName", block, ""));
  EXPECT_FALSE(classAddMethod(animal, "speak", block, ""));
  EXPECT_EQ(msgSend<std::string>(d, "speak"), "loud woof");
  auto listed = classCopyMethodList(dog);
  ASSERT_GE(listed.size(), 3u);
  EXPECT_EQ(listed[0].selector, "speak");
  EXPECT_EQ(listed.back().selector, "legsName");
}

TEST_F(RuntimeTest, DynamicSubclassChangesTheClassOfOneObjectOnly) {
  Class* dog = classNamed("RTDog");
  auto proxied = std::make_shared<Dog>();
  auto other = std::make_shared<Dog>();

  Class* sub = allocateClassPair(dog, "VTU_RTDog-1");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(classNamed("VTU_RTDog-1"), nullptr);              // not visible until registered
  EXPECT_EQ(allocateClassPair(dog, "VTU_RTDog-1"), nullptr);  // the name is taken
  EXPECT_EQ(classGetInstanceSize(sub), classGetInstanceSize(dog));
  EXPECT_TRUE(sub->addInstanceMethod("speak", [](Object& self) -> std::string {
    // Call what the real class had, as a proxy does.
    IMP real = classGetMethodImplementation(classNamed("RTDog"), "speak");
    return "proxied " + real->call<std::string>(self);
  }));
  sub->addInstanceMethod("description", [](Object& self) -> std::string {
    return "<RTDog: " + std::to_string(reinterpret_cast<std::uintptr_t>(&self)) + ">";
  });
  registerClassPair(sub);
  EXPECT_EQ(classNamed("VTU_RTDog-1"), sub);
  EXPECT_EQ(allocateClassPair(dog, "VTU_RTDog-1"), nullptr);

  // The class before the change can travel as a value, as proxies record it.
  static const char kRealClassKey = 0;
  setAssociatedObject(proxied.get(), &kRealClassKey, Value(dog->shared_from_this()));
  EXPECT_EQ(objectSetClass(proxied.get(), sub), dog);
  EXPECT_EQ(getAssociatedObject(proxied.get(), &kRealClassKey).objectAs<Class>().get(), dog);
  EXPECT_EQ(objectGetClassName(proxied.get()), "VTU_RTDog-1");
  EXPECT_EQ(msgSend<std::string>(proxied, "speak"), "proxied woof");
  EXPECT_EQ(msgSend<std::string>(proxied, "name"), "animal");  // inherited through the subclass
  EXPECT_EQ(msgSend<std::string>(other, "speak"), "woof");
  EXPECT_EQ(objectGetClassName(other.get()), "RTDog");
  EXPECT_EQ(proxied->description().rfind("<RTDog: ", 0), 0u) << proxied->description();
  EXPECT_EQ(other->description().rfind("<RTDog: 0x", 0), 0u) << other->description();

  // New instances of the dynamic class come from the nearest factory, with the class set.
  auto made = createInstance(sub);
  ASSERT_NE(made, nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<Dog>(made), nullptr);
  EXPECT_EQ(objectGetClass(made), sub);

  // A class that is not a runtime object cannot change class.
  auto plain = std::make_shared<Error>("d", 1);
  EXPECT_EQ(objectSetClass(plain.get(), sub), nullptr);
  EXPECT_EQ(objectSetClass(proxied.get(), nullptr), nullptr);
  EXPECT_EQ(objectGetClass(proxied), sub);
}

TEST_F(RuntimeTest, IvarsAddedBeforeRegistrationAreStoredPerObject) {
  Class* sub = allocateClassPair(classNamed("RTAnimal"), "RTAnimalWithTag");
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->addIvar(Ivar{"tag", "@", 8, {}}));
  EXPECT_FALSE(sub->addIvar(Ivar{"tag", "@", 8, {}}));
  EXPECT_EQ(classGetInstanceSize(sub), sizeof(Animal) + 8);
  registerClassPair(sub);
  EXPECT_FALSE(sub->addIvar(Ivar{"late", "@", 8, {}}));

  auto object = createInstance(sub);
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(objectSetIvar(object.get(), "tag", Value("blue")));
  EXPECT_FALSE(objectSetIvar(object.get(), "missing", Value(1)));
  EXPECT_EQ(objectGetIvar(object.get(), "tag"), Value("blue"));
  ASSERT_EQ(ivarObjectsForObject(object.get()).size(), 1u);
}

TEST_F(RuntimeTest, IvarObjectsAreTheOwnClassesObjectIvarsInOrder) {
  auto dog = std::make_shared<Dog>();
  dog->toy = std::make_shared<Error>("toy", 1);
  auto values = ivarObjectsForObject(dog.get());
  // "toy" and "nickname": "legs" is not an object, "owner" is nil, and the superclass's
  // "name" is not searched.
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].object(), dog->toy);
  EXPECT_EQ(values[1], Value("rex"));
  auto listed = classCopyIvarList(classNamed("RTDog"));
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[1].name, "legs");
}

TEST_F(RuntimeTest, AssociatedObjectsAreReleasedWithTheirObject) {
  static const char kKeyA = 'a';
  static const char kKeyB = 'a';  // same text, different identity
  std::weak_ptr<Object> watched;
  std::weak_ptr<Object> weakOnly;
  auto keeper = std::make_shared<Error>("kept", 2);
  {
    auto dog = std::make_shared<Dog>();
    auto value = std::make_shared<Error>("assoc", 1);
    watched = value;
    setAssociatedObject(dog.get(), &kKeyA, Value(value));
    setAssociatedObject(dog.get(), &kKeyB, Value("other"));
    value.reset();
    EXPECT_FALSE(watched.expired());  // retained by the object
    EXPECT_EQ(getAssociatedObject(dog.get(), &kKeyA).object(), watched.lock());
    EXPECT_EQ(getAssociatedObject(dog.get(), &kKeyB), Value("other"));

    // Assign does not retain: the value reads as nil once it is gone.
    auto transient = std::make_shared<Error>("weak", 3);
    weakOnly = transient;
    setAssociatedObject(dog.get(), &kKeyB, Value(transient), AssociationPolicy::Assign);
    EXPECT_EQ(getAssociatedObject(dog.get(), &kKeyB).object(), transient);
    transient.reset();
    EXPECT_TRUE(weakOnly.expired());
    EXPECT_TRUE(getAssociatedObject(dog.get(), &kKeyB).isNil());

    // Nil removes; the keeper survives the object.
    setAssociatedObject(dog.get(), &kKeyB, Value(keeper));
    setAssociatedObject(dog.get(), &kKeyB, Value());
    EXPECT_TRUE(getAssociatedObject(dog.get(), &kKeyB).isNil());
  }
  EXPECT_TRUE(watched.expired());
  EXPECT_EQ(keeper.use_count(), 1);
  // Objects that are not runtime objects carry none.
  setAssociatedObject(keeper.get(), &kKeyA, Value(1));
  EXPECT_TRUE(getAssociatedObject(keeper.get(), &kKeyA).isNil());
}

TEST_F(RuntimeTest, ProtocolsAnswerConformanceThroughClassesAndExtension) {
  auto dog = std::make_shared<Dog>();
  EXPECT_TRUE(conformsToProtocol(dog, "RTPet"));
  EXPECT_TRUE(conformsToProtocol(dog, "RTCreature"));  // RTPet extends it
  EXPECT_FALSE(conformsToProtocol(dog, "RTVehicle"));
  EXPECT_FALSE(conformsToProtocol(std::make_shared<RootObject>(), "RTPet"));
  EXPECT_FALSE(conformsToProtocol(ObjectPtr(), "RTPet"));

  Protocol* pet = protocolNamed("RTPet");
  ASSERT_NE(pet, nullptr);
  const MethodDescription* fetch = pet->methodDescription("fetch:", false, true);
  ASSERT_NE(fetch, nullptr);
  EXPECT_EQ(fetch->types, "v@:@");
  EXPECT_EQ(pet->methodDescription("fetch:", true, true), nullptr);
  ASSERT_NE(pet->methodDescription("breathe", true, true), nullptr);  // inherited
  EXPECT_TRUE(respondsToSelector(dog, "speak"));
  EXPECT_FALSE(respondsToSelector(dog, "fetch:"));
}

TEST_F(RuntimeTest, ObjectsOfUnregisteredClassesAnswerAsTheRootClass) {
  auto error = std::make_shared<Error>("d", 1);  // "NSError" is not a runtime class here
  EXPECT_EQ(objectGetClass(error), classNamed(kRootClassName));
  EXPECT_TRUE(respondsToSelector(error, "description"));
  EXPECT_EQ(msgSend<std::string>(error, "description"), error->description());
  auto root = std::make_shared<RootObject>();
  EXPECT_EQ(root->description().rfind("<NSObject: 0x", 0), 0u);
  EXPECT_EQ(msgSend<std::string>(classNamed("RTDog"), "description"), "RTDog");
}

TEST_F(RuntimeTest, RegisterClassRefusesClashesAndMissingSuperclasses) {
  EXPECT_EQ(registerClass("RTDog", "RTAnimal", 1), classNamed("RTDog"));
  EXPECT_EQ(registerClass("RTDog", kRootClassName, 1), nullptr);
  EXPECT_EQ(registerClass("RTOrphan", "RTNoSuchParent", 1), nullptr);
  bool configured = false;
  Class* cat = registerClass("RTCat", "RTAnimal", sizeof(Animal), [&](Class& c) {
    configured = true;
    EXPECT_EQ(classNamed("RTCat"), nullptr);  // not visible while being configured
    c.addInstanceMethod("speak", [](Object&) -> std::string { return "meow"; });
  });
  ASSERT_NE(cat, nullptr);
  EXPECT_TRUE(configured);
  auto kitty = createInstance(cat);
  EXPECT_EQ(msgSend<std::string>(kitty, "speak"), "meow");
  auto names = allClasses();
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(),
                             [](Class* a, Class* b) { return a->name() < b->name(); }));
}

TEST_F(RuntimeTest, ConcurrentSendsSeeEitherImplementationWhileItIsReplaced) {
  Class* dog = classNamed("RTDog");
  auto d = std::make_shared<Dog>();
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t) {
    senders.emplace_back([&] {
      while (!stop.load()) {
        std::string s = msgSend<std::string>(d, "speak");
        if (s != "woof" && s != "bark") ++bad;
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    classReplaceMethod(dog, "speak", implementationWithBlock([i](Object&) -> std::string {
                         return i % 2 ? "woof" : "bark";
                       }),
                       "");
  }
  stop = true;
  for (auto& t : senders) t.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST_F(RuntimeTest, AssociationsAndClassChangesAreSafeAcrossThreads) {
  static const char kKey = 0;
  auto dog = std::make_shared<Dog>();
  Class* dogClass = classNamed("RTDog");
  Class* sub = allocateClassPair(dogClass, "RTThreadedDog");
  ASSERT_NE(sub, nullptr);
  registerClassPair(sub);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        setAssociatedObject(dog.get(), &kKey, Value(t * 1000 + i));
        Value v = getAssociatedObject(dog.get(), &kKey);
        EXPECT_TRUE(v.isNumber());
        objectSetClass(dog.get(), i % 2 ? sub : dogClass);
        EXPECT_EQ(msgSend<std::string>(dog, "speak"), "woof");  // both classes answer the same
      }
    });
  }
  for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace platform::runtime
