#pragma once
// The handlers of the window's two hidden selection lists (resampler classes and kernel classes),
// applied to every bitmap layer of a view. The list controls themselves belong to the window: it
// passes the selected names and shows or hides the kernel list as told.
#include <optional>
#include <string>

#include "view/ImgView32.h"

namespace quirlon::view {

inline constexpr const char* kUnknownResampler = "Unknown resampler \"%s\"; the resamplers are %s";
inline constexpr const char* kUnknownKernel = "Unknown kernel \"%s\"; the kernels are %s";

// Gives every bitmap layer of View, in order, a new resampler of class SelectedResampler (the
// old one is freed), applies KernelClassNamesListChange, and notifies each bitmap once. An empty
// name means nothing is selected: nothing happens. Returns whether the kernel list is to be shown
// (the new resampler is a TKernelResampler), or nothing when no layer was touched. Throws
// EListError(kUnknownResampler) naming the name and the registered ones when the resampler
// registry does not have it.
std::optional<bool> ResamplerClassNamesListChange(TCustomImage32& View, const std::string& SelectedResampler,
                                                  const std::string& SelectedKernel);

// Gives every layer whose bitmap has a TKernelResampler a new kernel of class SelectedKernel.
// Throws EListError(kUnknownKernel) for a name the kernel registry does not have when some layer
// needs it.
void KernelClassNamesListChange(TCustomImage32& View, const std::string& SelectedKernel);

}  // namespace quirlon::view
