# The gateway build (-DOZR_GATEWAY=ON): the configuration a firmware image takes, made for
# flash size (docs/gateway.md). Every target of the build gets it, the tests too, so that
# they test the code the gateway runs; only the programs a gateway keeps are linked with
# link-time optimisation (ozr_gateway_program below), the tests link the same objects'
# ordinary code, which keeps their links fast.
#   -Os                        size over speed (the daemon waits on its loop nearly always)
#   -ffunction-sections -fdata-sections, --gc-sections
#                              every function and object in its own section, those nothing
#                              reaches are dropped at link time
#   -fno-exceptions            the code throws and catches nothing; what libstdc++ would throw
#                              (bad_alloc) ends the process as before
#   -fno-unwind-tables -fno-asynchronous-unwind-tables
#                              no .eh_frame for code that no exception, thread cancellation or
#                              backtrace ever unwinds (callbacks from libuv and sd-bus are
#                              called from C and return normally)
#   -fno-rtti                  no dynamic_cast or typeid anywhere
#   -fvisibility=hidden        nothing of the program is exported
#   -flto (OZR_LTO)            whole-program optimisation of the programs a gateway keeps
option(OZR_GATEWAY "Build for the gateway's flash: -Os, sections collected, no exceptions or unwind tables, LTO" OFF)
option(OZR_LTO "Link the programs a gateway keeps with link-time optimisation (OZR_GATEWAY only)" ON)

if(OZR_GATEWAY)
  if(OZR_SANITIZE OR OZR_TSAN OR OZR_FUZZ)
    message(FATAL_ERROR "OZR_GATEWAY cannot be combined with OZR_SANITIZE, OZR_TSAN or OZR_FUZZ")
  endif()
  add_compile_options(-Os -ffunction-sections -fdata-sections -fno-unwind-tables
                      -fno-asynchronous-unwind-tables -fvisibility=hidden
                      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>
                      $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>
                      $<$<COMPILE_LANGUAGE:CXX>:-fvisibility-inlines-hidden>)
  # The unwind options again at the link: a link with -flto compiles the whole program there,
  # and without them x86-64's default (asynchronous unwind tables) comes back.
  add_link_options(-Wl,--gc-sections -Wl,-O1 -Wl,--as-needed -fno-unwind-tables
                   -fno-asynchronous-unwind-tables)
  if(OZR_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Objects carry both their ordinary code and the compiler's intermediate form ("fat"):
    # a program linked with -flto is optimised as a whole, any other link (-fno-lto) takes the
    # ordinary code at no extra cost. The archiver must be the compiler's (gcc-ar) so that
    # the archives' symbol tables list what the intermediate form defines.
    add_compile_options(-flto=auto -ffat-lto-objects)
    # -fno-lto anywhere on a link line wins: each link gets one of the two.
    add_link_options($<IF:$<BOOL:$<TARGET_PROPERTY:OZR_LTO_PROGRAM>>,-flto=auto,-fno-lto>)
    if(CMAKE_CXX_COMPILER_AR AND CMAKE_CXX_COMPILER_RANLIB)
      set(CMAKE_AR ${CMAKE_CXX_COMPILER_AR})
      set(CMAKE_RANLIB ${CMAKE_CXX_COMPILER_RANLIB})
    endif()
  endif()
endif()

# ozr_gateway_program(TARGET...): a program a gateway keeps, linked with link-time
# optimisation in the gateway build (and nothing different elsewhere).
function(ozr_gateway_program)
  set_target_properties(${ARGN} PROPERTIES OZR_LTO_PROGRAM ON)
endfunction()
