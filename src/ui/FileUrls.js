.pragma library

// Every file URL the interface hands to a dialog comes from here, built from a local path the
// controller keeps ("/home/x/" on Linux, "C:/x/" on Windows). An empty path means "no folder yet".
function fromLocalPath(path) {
    if (!path)
        return ""
    const absolute = path.startsWith("/") ? path : "/" + path
    return "file://" + absolute.split("/").map(encodeURIComponent).join("/").replace(/%3A/g, ":")
}

// The folder part of a local path, up to and including its last "/", or "" without one.
function folderOf(path) {
    const slash = path ? path.lastIndexOf("/") : -1
    return slash > 0 ? path.substring(0, slash + 1) : ""
}

// The file a save dialog proposes: the path as given when it names a folder, else the name in the
// fallback folder (a local path, the documents folder in use).
function proposal(path, fallbackFolder) {
    if (folderOf(path) !== "")
        return fromLocalPath(path)
    const folder = fallbackFolder.endsWith("/") ? fallbackFolder : fallbackFolder + "/"
    return fromLocalPath(folder + (path ? path : ""))
}

// The folder a dialog opens in: the path's folder, else the fallback folder.
function folderUrl(path, fallbackFolder) {
    const folder = folderOf(path)
    return fromLocalPath(folder !== "" ? folder : fallbackFolder)
}

// The local path of a "file:" URL (as the standard locations give them).
function toLocalPath(url) {
    const text = url.toString()
    if (!text.startsWith("file://"))
        return text
    let path = decodeURIComponent(text.substring(7))
    // "file:///C:/x" names "C:/x".
    if (/^\/[A-Za-z]:\//.test(path))
        path = path.substring(1)
    return path
}
