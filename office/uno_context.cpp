#include "uno_context.h"

#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

namespace mirv {

com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> unoLocalContext() {
    static const auto context = [] {
        rtl::Bootstrap::set(rtl::OUString("URE_MORE_TYPES"),
                            rtl::OUString("<file://" MIRV_LO_PROGRAM_DIR "/types>*"));
        return cppu::defaultBootstrap_InitialComponentContext();
    }();
    return context;
}

} // namespace mirv
