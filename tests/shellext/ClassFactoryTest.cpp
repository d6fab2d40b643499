// The class object and the module's lock count, through the library's exports.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "Guids.h"
#include "ShellExtTestSupport.h"
#include "com/ComHandles.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

ComPtr<IClassFactory> ClassObject()
{
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(ShellExtLibrary::Get().GetClassObject(CLSID_ShellExt, IID_IClassFactory, factory.put_void()), S_OK);
    return factory;
}

// Stands in for an object that would aggregate ours.
class OuterObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

TEST(ClassFactoryTest, HandsOutOneClassObjectForOurClassOnly)
{
    auto& library = ShellExtLibrary::Get();
    ComPtr<IClassFactory> first = ClassObject();
    ComPtr<IClassFactory> second = ClassObject();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(library.GetClassObject(CLSID_ShellExt, IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(first.get()));

    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(library.GetClassObject(IID_IClassFactory, IID_IClassFactory, &other), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    other = reinterpret_cast<void*>(1);
    EXPECT_EQ(library.GetClassObject(CLSID_ShellExt, IID_IContextMenu, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(library.GetClassObject(CLSID_ShellExt, IID_IClassFactory, nullptr), E_POINTER);
}

TEST(ClassFactoryTest, CreatesHandlersThatAnswerTheirInterfacesOnly)
{
    ComPtr<IClassFactory> factory = ClassObject();
    ASSERT_TRUE(factory);

    OuterObject outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

    ComPtr<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.put_void()), S_OK);
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, init.put_void()), S_OK);
    // One identity, whichever interface is asked.
    ComPtr<IUnknown> fromMenu, fromInit;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, fromMenu.put_void()), S_OK);
    ASSERT_EQ(init->QueryInterface(IID_IUnknown, fromInit.put_void()), S_OK);
    EXPECT_EQ(fromMenu.get(), fromInit.get());

    for (const IID* refused : {&IID_IContextMenu2, &IID_IContextMenu3, &IID_IClassFactory, &IID_IDataObject}) {
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ(menu->QueryInterface(*refused, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
}

TEST(ClassFactoryTest, LibraryStaysWhileAnythingOfItLives)
{
    auto& library = ShellExtLibrary::Get();
    EXPECT_EQ(library.CanUnloadNow(), S_OK);

    ComPtr<IClassFactory> factory = ClassObject();
    ASSERT_TRUE(factory);
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE);

    ComPtr<IContextMenu> first, second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, first.put_void()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, second.put_void()), S_OK);
    // A refused interface destroys the new object again, leaving no lock behind.
    void* refused = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu2, &refused), E_NOINTERFACE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE);

    first.reset();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE);
    second.reset();
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE);  // the server lock

    factory = ClassObject();
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(library.CanUnloadNow(), S_FALSE);  // the class object
    factory.reset();
    EXPECT_EQ(library.CanUnloadNow(), S_OK);
}

}  // namespace
