// pci_vfio_region.cpp - a VFIO region (a BAR, the configuration space) as the kernel describes it: asked
// for with room for its capabilities, and read from the kernel's bytes, a pure function the tests
// feed the kernel's own records.
#include <string.h>

#include <algorithm>
#include <vector>

#include "pci_vfio.h"

// Asks the kernel for a region and reads its answer, capabilities and all.
bool PciVfioQueryRegion(int fdDevice, uint32_t nIndex, PciVfioRegion &region)
{
    std::vector<uint64_t> anInfo((sizeof(vfio_region_info) + 7) / 8);
    for (int nTry = 0; nTry < 2; ++nTry) {
        vfio_region_info info;
        memset(&info, 0, sizeof info);
        info.argsz = (uint32_t)(anInfo.size() * 8);
        info.index = nIndex;
        memcpy(anInfo.data(), &info, sizeof info);
        if (PciVfioIoctl(fdDevice, VFIO_DEVICE_GET_REGION_INFO, anInfo.data()) != 0)
            return false;
        memcpy(&info, anInfo.data(), sizeof info);
        // A kernel with capabilities to tell asks for room for them: once more, with that room.
        if (info.argsz <= anInfo.size() * 8 || info.argsz > 65536)
            return PciVfioParseRegion(anInfo.data(), std::min<size_t>(anInfo.size() * 8, info.argsz), region);
        anInfo.assign((info.argsz + 7) / 8, 0);
    }
    return false;
}

bool PciVfioParseRegion(const void *pInfo, size_t nBytes, PciVfioRegion &region)
{
    vfio_region_info info;
    if (nBytes < sizeof info)
        return false;
    memcpy(&info, pInfo, sizeof info);
    region.nOffset = info.offset;
    region.nSize = info.size;
    region.bRead = (info.flags & VFIO_REGION_INFO_FLAG_READ) != 0;
    region.bWrite = (info.flags & VFIO_REGION_INFO_FLAG_WRITE) != 0;
    region.bMmap = (info.flags & VFIO_REGION_INFO_FLAG_MMAP) != 0;
    if ((info.flags & VFIO_REGION_INFO_FLAG_CAPS) == 0)
        return true;
    // The capability chain: each header's next is an offset from the record's start, 0 at the end,
    // and only ever forward, so a broken chain cannot loop.
    const uint8_t *pBytes = (const uint8_t *)pInfo;
    for (uint32_t nAt = info.cap_offset; nAt != 0;) {
        vfio_info_cap_header header;
        if (nAt < sizeof info || nAt > nBytes || nBytes - nAt < sizeof header)
            return false;
        memcpy(&header, pBytes + nAt, sizeof header);
        if (header.id == VFIO_REGION_INFO_CAP_SPARSE_MMAP) {
            // Only these parts may be mapped: the whole region is mappable when one part covers it.
            vfio_region_info_cap_sparse_mmap sparse;
            if (nBytes - nAt < sizeof sparse)
                return false;
            memcpy(&sparse, pBytes + nAt, sizeof sparse);
            size_t nAreas = (nBytes - nAt - sizeof sparse) / sizeof(vfio_region_sparse_mmap_area);
            if (sparse.nr_areas > nAreas)
                return false;
            bool bWhole = false;
            for (uint32_t i = 0; i < sparse.nr_areas; ++i) {
                vfio_region_sparse_mmap_area area;
                memcpy(&area, pBytes + nAt + sizeof sparse + i * sizeof area, sizeof area);
                bWhole = bWhole || (area.offset == 0 && area.size >= info.size);
            }
            region.bMmap = region.bMmap && bWhole;
        }
        if (header.next != 0 && header.next <= nAt)
            return false;
        nAt = header.next;
    }
    return true;
}

