// The library's process-wide application object: one exists from the moment the
// library is loaded until it is unloaded. It has no state and no behaviour, and no
// member of Covarne2005 uses it.
namespace {

class CCovarneApp {
public:
    CCovarneApp() {}  // nothing to set up
};

CCovarneApp theApp;

}  // namespace
