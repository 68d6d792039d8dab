// Warm brown monochrome: luminance mapped onto a ramp from dark umber through tan to cream,
// with a faint darkening towards the corners like an old print.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;
uniform vec2 u_scale;

varying vec2 v_texCoord;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
// Every stop has red >= green >= blue, so every blend of them is warm too.
const vec3 kShadow = vec3(0.16, 0.09, 0.04);
const vec3 kMidtone = vec3(0.66, 0.48, 0.30);
const vec3 kHighlight = vec3(1.0, 0.94, 0.80);

void main() {
    float luma = dot(texture2D(s_texture, v_texCoord).rgb, kLuma);
    vec3 tone = mix(kShadow, kMidtone, clamp(luma * 2.0, 0.0, 1.0));
    tone = mix(tone, kHighlight, clamp(luma * 2.0 - 1.0, 0.0, 1.0));

    // Distance from the centre in screen widths (s runs down, t across).
    vec2 fromCentre = (v_texCoord - 0.5) * u_scale.yx;
    float vignette = 1.0 - 0.35 * smoothstep(0.35, 0.85, length(fromCentre));
    gl_FragColor = vec4(tone * vignette, 1.0);
}
