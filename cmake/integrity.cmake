# The integrity words of an installer image: computed by `qar sfx`, checked by the stub.
add_library(qar_integrity STATIC ${CMAKE_SOURCE_DIR}/startup/integrity.cpp)
target_include_directories(qar_integrity PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(qar_integrity PRIVATE ${QAR_CORE_FLAGS})
