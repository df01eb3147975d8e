#include "platform/afx/Object.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class CShape : public CObject {
    DECLARE_DYNAMIC(CShape)
public:
    int m_sides = 0;
};
IMPLEMENT_DYNAMIC(CShape, CObject)

class CSquare : public CShape {
    DECLARE_DYNCREATE(CSquare)
public:
    CSquare() { m_sides = 4; }
};
IMPLEMENT_DYNCREATE(CSquare, CShape)

class CCircle : public CShape {
    DECLARE_SERIAL(CCircle)
};
IMPLEMENT_SERIAL(CCircle, CShape, 1)

TEST(ObjectTest, IsKindOfFollowsTheBaseChain) {
    CSquare square;
    CCircle circle;
    struct Case {
        const CObject* object;
        const CRuntimeClass* cls;
        BOOL expected;
    };
    const Case cases[] = {
        {&square, RUNTIME_CLASS(CSquare), TRUE},  {&square, RUNTIME_CLASS(CShape), TRUE},
        {&square, RUNTIME_CLASS(CObject), TRUE},  {&square, RUNTIME_CLASS(CCircle), FALSE},
        {&circle, RUNTIME_CLASS(CSquare), FALSE}, {&circle, RUNTIME_CLASS(CShape), TRUE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.object->IsKindOf(c.cls), c.expected) << c.cls->m_lpszClassName;
    EXPECT_STREQ(square.GetRuntimeClass()->m_lpszClassName, "CSquare");
    EXPECT_EQ(square.GetRuntimeClass()->m_nObjectSize, static_cast<int>(sizeof(CSquare)));
    EXPECT_FALSE(square.IsSerializable());
    EXPECT_TRUE(circle.IsSerializable());
    CObject* asObject = &square;
    EXPECT_EQ(DYNAMIC_DOWNCAST(CShape, asObject), &square);
    EXPECT_EQ(DYNAMIC_DOWNCAST(CCircle, asObject), nullptr);
}

TEST(ObjectTest, DynamicCreationByClassAndName) {
    std::unique_ptr<CObject> made(RUNTIME_CLASS(CSquare)->CreateObject());
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CSquare)));
    EXPECT_EQ(static_cast<CSquare*>(made.get())->m_sides, 4);

    EXPECT_EQ(RUNTIME_CLASS(CShape)->CreateObject(), nullptr); // DYNAMIC only: no creation
    EXPECT_EQ(CRuntimeClass::FromName("CCircle"), RUNTIME_CLASS(CCircle));
    EXPECT_EQ(CRuntimeClass::FromName(u"CSquare"), RUNTIME_CLASS(CSquare));
    EXPECT_EQ(CRuntimeClass::FromName("csquare"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName("CObject"), RUNTIME_CLASS(CObject));
    std::unique_ptr<CObject> byName(CRuntimeClass::CreateObject(u"CCircle"));
    ASSERT_TRUE(byName);
    EXPECT_TRUE(byName->IsKindOf(RUNTIME_CLASS(CCircle)));
    EXPECT_EQ(CRuntimeClass::CreateObject("CNoSuchClass"), nullptr);
}

} // namespace
