// The point cloud in 3-D: the library the build fetched (static/vendor), loaded only here,
// so that the rest of the page works without it.

const POINT_SIZE_PX = 2;
const DEFAULT_DISTANCE_M = 2;

// Resolves to the cloud, or to null (with the reason in `note`) when the 3-D library or
// WebGL is not there.
export async function createCloud(container, note) {
  let THREE, OrbitControls;
  try {
    THREE = await import("three");
    ({OrbitControls} = await import("three/orbit"));
  } catch (error) {
    note.textContent = "3-D view not available: the build did not fetch its library " +
                       "(ZELVO_VIEWER_ASSETS)";
    return null;
  }
  let renderer;
  try {
    renderer = new THREE.WebGLRenderer({antialias: false});
  } catch (error) {
    note.textContent = "3-D view not available: this browser offers no WebGL";
    return null;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  container.appendChild(renderer.domElement);

  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0x050608);
  scene.add(new THREE.AxesHelper(0.2));  // the camera, at the origin, looking along -z
  const view = new THREE.PerspectiveCamera(55, 1, 0.01, 100);
  const orbit = new OrbitControls(view, renderer.domElement);
  const material = new THREE.PointsMaterial({size: POINT_SIZE_PX, sizeAttenuation: false,
                                             vertexColors: true});
  let geometry = null;
  let points = null;
  let capacity = 0;
  let centre = DEFAULT_DISTANCE_M;
  let placed = false;
  let renderQueued = false;

  function render() {
    if (renderQueued) return;
    renderQueued = true;
    requestAnimationFrame(() => {
      renderQueued = false;
      renderer.render(scene, view);
    });
  }

  function resetView() {
    // Looks at the middle of the scene from above and to the right of the camera.
    orbit.target.set(0, 0, -centre);
    view.position.set(centre * 0.8, centre * 0.5, 0.4 * centre);
    view.lookAt(orbit.target);
    orbit.update();
    render();
  }

  function resize() {
    const width = Math.max(container.clientWidth, 1);
    const height = Math.max(container.clientHeight, 1);
    renderer.setSize(width, height);
    view.aspect = width / height;
    view.updateProjectionMatrix();
    render();
  }

  new ResizeObserver(resize).observe(container);
  orbit.addEventListener("change", render);
  resize();
  resetView();

  return {
    // Buffers for at least `count` points, to be filled by paintFrame.
    buffers(count) {
      if (count > capacity) {
        if (points) {
          scene.remove(points);
          geometry.dispose();
        }
        capacity = count;
        geometry = new THREE.BufferGeometry();
        const positions = new THREE.BufferAttribute(new Float32Array(count * 3), 3);
        const colours = new THREE.BufferAttribute(new Uint8Array(count * 3), 3, true);
        positions.setUsage(THREE.DynamicDrawUsage);
        colours.setUsage(THREE.DynamicDrawUsage);
        geometry.setAttribute("position", positions);
        geometry.setAttribute("color", colours);
        points = new THREE.Points(geometry, material);
        points.frustumCulled = false;  // the bounds change with every frame
        scene.add(points);
      }
      return {positions: geometry.attributes.position.array,
              colours: geometry.attributes.color.array};
    },
    // Shows the first `count` points of the buffers; the first frame places the view.
    update(count, meanDepthMm) {
      geometry.setDrawRange(0, count);
      if (count > 0) {
        for (const attribute of [geometry.attributes.position, geometry.attributes.color]) {
          attribute.addUpdateRange(0, count * 3);  // upload only the points in use
          attribute.needsUpdate = true;
        }
      }
      if (!placed && count > 0) {
        centre = meanDepthMm / 1000;
        placed = true;
        resetView();
      }
      render();
    },
    resetView,
  };
}
