.pragma library

// Every file URL the interface hands to a dialog comes from here, built from a local path the
// controller keeps ("/home/x/" on Linux, "C:/x/" on Windows). An empty path means "no folder yet".
function fromLocalPath(path) {
    if (!path)
        return ""
    const absolute = path.startsWith("/") ? path : "/" + path
    return "file://" + absolute.split("/").map(encodeURIComponent).join("/").replace(/%3A/g, ":")
}
