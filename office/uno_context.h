#pragma once

#include <com/sun/star/uno/XComponentContext.hpp>

namespace mirv {

// This process's own UNO environment, made on first use. It loads the office's type libraries
// so that it can talk about documents and sheets with an office over a pipe.
com::sun::star::uno::Reference<com::sun::star::uno::XComponentContext> unoLocalContext();

} // namespace mirv
