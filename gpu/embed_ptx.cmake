# Writes the PTX module into a C++ source as one text constant:
# cmake -DPTX=<module.ptx> -DOUT=<source.cpp> -P embed_ptx.cmake
file(READ "${PTX}" text)
file(WRITE "${OUT}"
     "// Generated at build time from gpu/kernels.cu.\n"
     "namespace tavro {\n"
     "extern const char kGpuModulePtx[];\n"
     "const char kGpuModulePtx[] = R\"tavro_ptx(${text})tavro_ptx\";\n"
     "}  // namespace tavro\n")
